// CNodeList and COwnerNodeList: linking, the pool of at most 10 spare nodes, and which list
// destroys which elements.
#include <gtest/gtest.h>
#include "base/NodeList.h"
#include "base/Text.h"
#include <vector>

namespace
{
std::vector<int> g_destroyed;

struct CTracked
{
    explicit CTracked(int id) : m_nId(id) {}
    ~CTracked() { g_destroyed.push_back(m_nId); }
    int m_nId;
};

// Opens the pool operations to the tests.
struct CPoolList : CNodeList
{
    using CNodeList::GetNode;
    using CNodeList::ReturnNode;
};

// The spare nodes in pool order, checking the back links on the way.
std::vector<CNode*> Pool(const CNodeList& list)
{
    std::vector<CNode*> nodes;
    for (CNode* node = list.m_pFreeList; node; node = node->pNext)
    {
        EXPECT_EQ(nodes.empty() ? NULL : nodes.back(), node->pPrev) << "spare node " << nodes.size();
        nodes.push_back(node);
    }
    return nodes;
}
}

TEST(NodeList, LinkingAndPool)
{
    int values[12] = {1, 2, 3};
    CPoolList list;
    EXPECT_EQ(NULL, list.GetHead());
    EXPECT_EQ(NULL, list.RemoveHead());
    CNode* node = list.AddHead(&values[0], false);
    EXPECT_EQ(node, list.m_pTail);
    EXPECT_EQ(&values[0], list.RemoveHead());
    EXPECT_EQ(NULL, list.m_pTail);

    list.AddTail(&values[1], false);
    list.AddTail(&values[2], true);
    list.AddHead(&values[0], false);
    std::vector<int> seen;
    for (CNode* n = list.GetHeadNode(); n; n = n->pNext)
    {
        seen.push_back(*static_cast<int*>(n->pData));
        EXPECT_EQ(n->pPrev ? n->pPrev->pNext : list.m_pHead, n) << seen.back();
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3}), seen);
    EXPECT_EQ(3, list.GetCount());
    EXPECT_EQ(1, list.m_pTail->bOwned);
    list.RemoveAll();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(NULL, list.m_pHead);
    EXPECT_EQ(NULL, list.m_pTail);
    EXPECT_EQ(3u, Pool(list).size());               // RemoveAll keeps its nodes

    // Twelve nodes given up: the pool keeps ten, the latest in front, and frees the rest.
    CPoolList twelve;
    std::vector<CNode*> nodes;
    for (int i = 0; i < 12; i++)
        nodes.push_back(twelve.AddTail(&values[i], i == 9));
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(&values[i], twelve.RemoveHead());
    EXPECT_EQ(10, twelve.m_nFreeCount);
    EXPECT_EQ(std::vector<CNode*>(nodes.rbegin() + 2, nodes.rend()), Pool(twelve));

    // Taken from the pool: the first spare, with the owned flag of its last element cleared.
    ASSERT_EQ(1, twelve.m_pFreeList->bOwned);
    CNode* taken = twelve.GetNode();
    EXPECT_EQ(nodes[9], taken);
    EXPECT_EQ(0, taken->bOwned);
    EXPECT_EQ(9u, Pool(twelve).size());
    twelve.ReturnNode(taken);
    twelve.ReturnNode(new CNode());                         // a full pool frees what it cannot keep
    EXPECT_EQ(10, twelve.m_nFreeCount);
    EXPECT_EQ(10u, Pool(twelve).size());
}

TEST(NodeList, Ownership)
{
    g_destroyed.clear();
    CTracked* unowned = new CTracked(99);
    {
        COwnerNodeList<CTracked> list;
        list.AddTail(new CTracked(1), true);
        list.AddTail(unowned, false);
        list.AddTail(new CTracked(2), true);
        list.AddHead(new CTracked(0), true);
        list.AddTail(NULL, true);                           // a null element is skipped
        list.RemoveAll();
        EXPECT_EQ((std::vector<int>{0, 1, 2}), g_destroyed);
        EXPECT_EQ(5, list.m_nFreeCount);

        g_destroyed.clear();
        list.AddTail(new CTracked(7), true);
        list.AddTail(new CTracked(8), true);
        EXPECT_EQ(7, list.GetHeadElement()->m_nId);
        list.RemoveHead();
        EXPECT_EQ((std::vector<int>{7}), g_destroyed);
        // A node reused from the pool does not keep the owned flag of its last element.
        list.AddTail(unowned, false);
        EXPECT_EQ(0, list.m_pTail->bOwned);
        g_destroyed.clear();
    }
    // The destructor destroys the owned element and leaves the unowned one alone.
    EXPECT_EQ((std::vector<int>{8}), g_destroyed);

    // The base list never destroys an element, even one added as owned.
    g_destroyed.clear();
    {
        CNodeList list;
        list.AddTail(unowned, true);
        list.AddTail(unowned, true);
        list.RemoveHead();
        list.RemoveAll();
        list.AddTail(unowned, true);
    }
    EXPECT_EQ(std::vector<int>(), g_destroyed);
    delete unowned;

    COwnerNodeList<CText> texts;
    CText* text = texts.AddNewTail(true);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(text, texts.GetHeadElement());
    EXPECT_EQ(1, texts.m_pHead->bOwned);
    text->Assign("freed by the list");
}
