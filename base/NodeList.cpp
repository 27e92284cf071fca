#include "base/NodeList.h"

CNodeList::CNodeList()
    : m_pHead(NULL), m_pTail(NULL), m_pFreeList(NULL), m_nFreeCount(0), m_nFreeMax(10), m_nCount(0)
{
}

CNodeList::~CNodeList()
{
    // An owning list has emptied itself already with its own Release; what is left here gives
    // nodes back without touching elements.
    RemoveAll();
    CNode* node = m_pFreeList;
    while (node)
    {
        CNode* next = node->pNext;
        delete node;
        node = next;
    }
    m_pFreeList = NULL;
    m_nFreeCount = 0;
}

void CNodeList::Release(CNode* node, bool /*destroyElement*/)
{
    ReturnNode(node);
}

CNode* CNodeList::GetNode()
{
    if (m_nFreeCount > 0 && m_pFreeList)
    {
        CNode* node = m_pFreeList;
        m_pFreeList = node->pNext;
        if (m_pFreeList)
            m_pFreeList->pPrev = NULL;
        m_nFreeCount--;
        node->bOwned = FALSE;
        return node;
    }
    CNode* node = new (std::nothrow) CNode;
    if (!node)
        return NULL;
    node->pPrev = NULL;
    node->pNext = NULL;
    node->pData = NULL;
    node->bOwned = FALSE;
    return node;
}

void CNodeList::ReturnNode(CNode* node)
{
    if (!node)
        return;
    if (m_nFreeCount < m_nFreeMax)
    {
        if (m_pFreeList)
            m_pFreeList->pPrev = node;
        node->pNext = m_pFreeList;
        node->pPrev = NULL;
        node->pData = NULL;
        m_pFreeList = node;
        m_nFreeCount++;
    }
    else
        delete node;
}

CNode* CNodeList::AddHead(void* element, bool owned)
{
    CNode* node = GetNode();
    if (!node)
        return NULL;
    node->bOwned = owned ? TRUE : FALSE;
    node->pPrev = NULL;
    node->pNext = m_pHead;
    if (m_pHead)
        m_pHead->pPrev = node;
    node->pData = element;
    m_pHead = node;
    if (!m_pTail)
        m_pTail = node;
    m_nCount++;
    return node;
}

CNode* CNodeList::AddTail(void* element, bool owned)
{
    CNode* node = GetNode();
    if (!node)
        return NULL;
    node->bOwned = owned ? TRUE : FALSE;
    node->pPrev = m_pTail;
    node->pNext = NULL;
    if (m_pTail)
        m_pTail->pNext = node;
    node->pData = element;
    m_pTail = node;
    if (!m_pHead)
        m_pHead = node;
    m_nCount++;
    return node;
}

void* CNodeList::RemoveHead()
{
    CNode* node = m_pHead;
    if (!node)
        return NULL;
    m_pHead = node->pNext;
    if (m_pHead)
        m_pHead->pPrev = NULL;
    else
        m_pTail = NULL;
    void* element = node->pData;
    m_nCount--;
    Release(node, true);
    return element;
}

void CNodeList::RemoveAll()
{
    CNode* node = m_pHead;
    // Unlink first: an element's destructor must not find half-released nodes in the chain.
    m_pHead = NULL;
    m_pTail = NULL;
    m_nCount = 0;
    while (node)
    {
        CNode* next = node->pNext;
        Release(node, true);
        node = next;
    }
}
