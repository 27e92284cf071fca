// CNodeList and COwnerNodeList: linking, the pool of at most 10 spare nodes, and which list
// destroys which elements.
#include <gtest/gtest.h>
#include "base/NodeList.h"

typedef std::vector<int> Ids;
static Ids g_destroyed;

struct CTracked
{
    int m_nId = -1;
    ~CTracked() { g_destroyed.push_back(m_nId); }
};

// The element ids from head to tail (0 for a null element, -2 where the back link is wrong),
// checking the tail and the count on the way.
static Ids Walk(const CNodeList& list)
{
    Ids ids;
    CNode* last = NULL;
    for (CNode* node = list.GetHeadNode(); node; last = node, node = node->pNext)
        ids.push_back(node->pPrev != last ? -2 : node->pData ? static_cast<CTracked*>(node->pData)->m_nId : 0);
    EXPECT_EQ(last, list.m_pTail);
    EXPECT_EQ(int(ids.size()), list.GetCount());
    return ids;
}

TEST(NodeList, LinksReusesNodesAndDestroysOnlyOwnedElements)
{
    CTracked* unowned = new CTracked{99};
    {
        COwnerNodeList<CTracked> list;
        EXPECT_EQ(NULL, list.RemoveHead());
        list.AddHead(new CTracked{1}, true);
        list.AddTail(unowned, false);
        list.AddHead(new CTracked{2}, true);
        list.AddTail(NULL, true);                           // a null element is skipped
        EXPECT_EQ((Ids{2, 1, 99, 0}), Walk(list));
        list.RemoveHead();
        EXPECT_EQ((Ids{1, 99, 0}), Walk(list));
        list.RemoveAll();
        EXPECT_EQ((Ids{}), Walk(list));
        EXPECT_EQ((Ids{2, 1}), g_destroyed);
        EXPECT_EQ(4, list.m_nFreeCount) << "the nodes given up are kept";

        // Reused nodes do not keep the owned flag of their last element.
        list.AddTail(unowned, false);
        list.AddTail(unowned, false);
        ASSERT_NE(nullptr, list.AddNewTail(true));
        g_destroyed.clear();
    }
    EXPECT_EQ((Ids{-1}), g_destroyed) << "the destructor destroys the owned element only";

    // Twelve nodes given up: the pool keeps ten, the latest in front. The base list never
    // destroys an element, even one added as owned.
    {
        CNodeList twelve;
        std::vector<CNode*> nodes;
        for (int i = 0; i < 12; i++)
            nodes.push_back(twelve.AddTail(unowned, true));
        twelve.RemoveAll();
        EXPECT_EQ(10, twelve.m_nFreeCount);
        EXPECT_EQ(nodes[9], twelve.AddHead(unowned, true));
    }
    EXPECT_EQ((Ids{-1}), g_destroyed) << "the base list destroyed an element";
    delete unowned;
}
