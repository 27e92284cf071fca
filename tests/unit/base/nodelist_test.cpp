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
    explicit CTracked(int id = 0) : m_nId(id) {}
    ~CTracked() { g_destroyed.push_back(m_nId); }
    int m_nId;
};

// Opens the pool operations to the tests.
class CPoolList : public CNodeList
{
public:
    using CNodeList::GetNode;
    using CNodeList::ReturnNode;
};

int CountPool(const CNodeList& list)
{
    int n = 0;
    CNode* prev = NULL;
    for (CNode* node = list.m_pFreeList; node; node = node->pNext)
    {
        EXPECT_EQ(prev, node->pPrev) << "spare node " << n;
        prev = node;
        n++;
    }
    return n;
}
}

TEST(NodeList, Linking)
{
    int a = 1, b = 2, c = 3;
    CNodeList list;
    EXPECT_EQ(10, list.m_nFreeMax);
    EXPECT_EQ(NULL, list.GetHead());
    EXPECT_EQ(NULL, list.RemoveHead());
    EXPECT_EQ(0, list.GetCount());

    CNode* node = list.AddHead(&a, false);
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(node, list.m_pHead);
    EXPECT_EQ(node, list.m_pTail);
    EXPECT_EQ(NULL, node->pPrev);
    EXPECT_EQ(NULL, node->pNext);
    EXPECT_EQ(&a, list.RemoveHead());
    EXPECT_EQ(NULL, list.m_pHead);
    EXPECT_EQ(NULL, list.m_pTail);
    EXPECT_EQ(0, list.GetCount());

    node = list.AddTail(&b, false);
    EXPECT_EQ(node, list.m_pHead);
    EXPECT_EQ(node, list.m_pTail);
    list.AddTail(&c, true);
    list.AddHead(&a, false);
    EXPECT_EQ(3, list.GetCount());
    std::vector<int> values;
    for (CNode* n = list.GetHeadNode(); n; n = n->pNext)
    {
        values.push_back(*static_cast<int*>(n->pData));
        if (n != list.m_pHead)
        {
            EXPECT_EQ(n, n->pPrev->pNext);
        }
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3}), values);
    EXPECT_EQ(&c, list.m_pTail->pData);
    EXPECT_EQ(1, list.m_pTail->bOwned);
    EXPECT_EQ(&b, list.m_pTail->pPrev->pData);

    EXPECT_EQ(&a, list.RemoveHead());
    EXPECT_EQ(NULL, list.m_pHead->pPrev);
    EXPECT_EQ(&b, list.GetHead());
    list.RemoveAll();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(NULL, list.m_pHead);
    EXPECT_EQ(NULL, list.m_pTail);
}

TEST(NodeList, Pool)
{
    int values[12];
    CPoolList list;
    for (int i = 0; i < 12; i++)
        list.AddTail(&values[i], false);
    EXPECT_EQ(0, list.m_nFreeCount);
    std::vector<CNode*> nodes;
    for (CNode* n = list.m_pHead; n; n = n->pNext)
        nodes.push_back(n);

    for (int i = 0; i < 12; i++)
        EXPECT_EQ(&values[i], list.RemoveHead());
    EXPECT_EQ(10, list.m_nFreeCount);
    EXPECT_EQ(10, CountPool(list));

    // The first ten nodes given up are kept, the latest in front; the last two were freed.
    int i = 9;
    for (CNode* n = list.m_pFreeList; n; n = n->pNext, i--)
        EXPECT_EQ(nodes[i], n) << "spare for element " << i;

    // Taking from the pool: the first spare, with its owned flag cleared.
    list.AddTail(&values[0], true);
    list.RemoveHead();
    CNode* first = list.m_pFreeList;
    ASSERT_EQ(1, first->bOwned);
    CNode* taken = list.GetNode();
    EXPECT_EQ(first, taken);
    EXPECT_EQ(0, taken->bOwned);
    EXPECT_EQ(9, list.m_nFreeCount);
    EXPECT_EQ(NULL, list.m_pFreeList->pPrev);
    EXPECT_EQ(9, CountPool(list));
    list.ReturnNode(taken);
    EXPECT_EQ(10, list.m_nFreeCount);
    CNode* extra = list.GetNode();
    list.ReturnNode(extra);
    // A full pool frees what it cannot keep.
    CNode* fresh = new CNode();
    list.ReturnNode(fresh);
    EXPECT_EQ(10, list.m_nFreeCount);
    EXPECT_EQ(10, CountPool(list));

    // RemoveAll keeps nodes in the pool.
    for (int i = 0; i < 3; i++)
        list.AddTail(&values[i], false);
    EXPECT_EQ(7, list.m_nFreeCount);
    list.RemoveAll();
    EXPECT_EQ(10, list.m_nFreeCount);
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
        list.AddTail(NULL, true);                       // a null element is skipped
        list.RemoveAll();
        EXPECT_EQ((std::vector<int>{0, 1, 2}), g_destroyed);
        EXPECT_EQ(0, list.GetCount());
        EXPECT_EQ(5, list.m_nFreeCount);

        g_destroyed.clear();
        list.AddTail(new CTracked(7), true);
        list.AddTail(new CTracked(8), true);
        EXPECT_EQ(7, list.GetHeadElement()->m_nId);
        list.RemoveHead();
        EXPECT_EQ((std::vector<int>{7}), g_destroyed);
        list.AddTail(unowned, false);
        g_destroyed.clear();
    }
    // The list's destruction destroys its owned element and leaves the unowned one alone.
    EXPECT_EQ((std::vector<int>{8}), g_destroyed);
    EXPECT_EQ(99, unowned->m_nId);

    // A node reused from the pool does not keep the owned flag of its last element.
    g_destroyed.clear();
    {
        COwnerNodeList<CTracked> list;
        list.AddTail(new CTracked(1), true);
        list.RemoveAll();
        list.AddTail(unowned, false);
        EXPECT_EQ(0, list.m_pHead->bOwned);
        list.RemoveAll();
    }
    EXPECT_EQ((std::vector<int>{1}), g_destroyed);

    // The base list never destroys an element, even one added as owned.
    g_destroyed.clear();
    CTracked* keptA = new CTracked(5);
    CTracked* keptB = new CTracked(6);
    {
        CNodeList list;
        list.AddTail(keptA, true);
        list.AddTail(keptB, true);
        list.RemoveHead();
        list.RemoveAll();
        list.AddTail(keptA, true);
    }
    EXPECT_EQ(std::vector<int>(), g_destroyed);
    delete keptA;
    delete keptB;
    delete unowned;

    COwnerNodeList<CText> texts;
    CText* text = texts.AddNewTail(true);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(NULL, text->GetText());
    EXPECT_EQ(1, texts.GetCount());
    EXPECT_EQ(text, texts.GetHeadElement());
    EXPECT_EQ(1, texts.m_pHead->bOwned);
    text->Assign("freed by the list");
}
