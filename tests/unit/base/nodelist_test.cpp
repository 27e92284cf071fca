// CNodeList and COwnerNodeList: linking, the pool of at most 10 spare nodes, and which list
// destroys which elements.
#include <gtest/gtest.h>
#include "base/NodeList.h"
#include <vector>

namespace
{
std::vector<int> g_destroyed;

struct CTracked
{
    explicit CTracked(int id = -1) : m_nId(id) {}
    ~CTracked() { g_destroyed.push_back(m_nId); }
    int m_nId;
};

// The elements from head to tail, checking every back link and the tail on the way.
std::vector<int> Walk(const CNodeList& list)
{
    std::vector<int> seen;
    CNode* last = NULL;
    for (CNode* node = list.GetHeadNode(); node; last = node, node = node->pNext)
    {
        EXPECT_EQ(last, node->pPrev) << "element " << seen.size();
        seen.push_back(*static_cast<int*>(node->pData));
    }
    EXPECT_EQ(last, list.m_pTail);
    EXPECT_EQ(int(seen.size()), list.GetCount());
    return seen;
}
}

TEST(NodeList, LinkingAndPool)
{
    int values[12] = {1, 2, 3};
    CNodeList list;
    EXPECT_EQ(NULL, list.RemoveHead());
    list.AddHead(&values[0], false);
    EXPECT_EQ((std::vector<int>{1}), Walk(list));
    EXPECT_EQ(&values[0], list.RemoveHead());
    EXPECT_EQ((std::vector<int>{}), Walk(list));

    list.AddTail(&values[1], false);
    list.AddTail(&values[2], true);
    list.AddHead(&values[0], false);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Walk(list));
    EXPECT_EQ(&values[0], list.RemoveHead());
    EXPECT_EQ((std::vector<int>{2, 3}), Walk(list));
    list.RemoveAll();
    EXPECT_EQ((std::vector<int>{}), Walk(list));
    EXPECT_EQ(3, list.m_nFreeCount) << "the nodes given up are kept";

    // Twelve nodes given up: the pool keeps ten, the latest in front, and frees the rest.
    CNodeList twelve;
    std::vector<CNode*> nodes;
    for (int i = 0; i < 12; i++)
        nodes.push_back(twelve.AddTail(&values[i], true));
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(&values[i], twelve.RemoveHead());
    EXPECT_EQ(10, twelve.m_nFreeCount);
    CNode* reused = twelve.AddTail(&values[0], false);
    EXPECT_EQ(nodes[9], reused);
    EXPECT_EQ(0, reused->bOwned) << "the owned flag of the node's last element";
    EXPECT_EQ(9, twelve.m_nFreeCount);
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

        g_destroyed.clear();
        list.AddTail(new CTracked(7), true);
        list.AddTail(unowned, false);
        CTracked* made = list.AddNewTail(true);
        ASSERT_NE(nullptr, made);
        EXPECT_EQ(-1, made->m_nId);
        list.RemoveHead();
        EXPECT_EQ((std::vector<int>{7}), g_destroyed);
        g_destroyed.clear();
    }
    // The destructor destroys the owned element, the one AddNewTail made, and leaves the
    // unowned one alone.
    EXPECT_EQ((std::vector<int>{-1}), g_destroyed);

    // The base list never destroys an element, even one added as owned.
    g_destroyed.clear();
    {
        CNodeList list;
        list.AddTail(unowned, true);
        list.AddTail(unowned, true);
        list.RemoveHead();
    }
    EXPECT_EQ(std::vector<int>(), g_destroyed);
    delete unowned;
}
