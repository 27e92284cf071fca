// CNodeList, the one container: a doubly linked list of element pointers with a pool of at
// most 10 spare nodes. COwnerNodeList<T> destroys the elements of its owned nodes.
#pragma once
#include <windows.h>
#include <new>

struct CNode
{
    CNode* pPrev;
    CNode* pNext;
    void* pData;
    BYTE bOwned;
};

class CNodeList
{
public:
    CNodeList();
    virtual ~CNodeList();
    CNodeList(const CNodeList&) = delete;
    CNodeList& operator=(const CNodeList&) = delete;

    // Gives up a node: the base list returns it to the pool and never touches the element.
    virtual void Release(CNode* node, bool destroyElement);

    CNode* AddHead(void* element, bool owned);
    CNode* AddTail(void* element, bool owned);
    void* RemoveHead();             // the list must not be empty
    void RemoveAll();
    int GetCount() const { return m_nCount; }
    void* GetHead() const { return m_pHead ? m_pHead->pData : NULL; }
    CNode* GetHeadNode() const { return m_pHead; }

    CNode* m_pHead;
    CNode* m_pTail;
    CNode* m_pFreeList;
    int m_nFreeCount;
    int m_nFreeMax;
    int m_nCount;

protected:
    CNode* GetNode();
    void ReturnNode(CNode* node);
};

template <class T>
class COwnerNodeList : public CNodeList
{
public:
    ~COwnerNodeList() override { RemoveAll(); }

    void Release(CNode* node, bool destroyElement) override
    {
        if (node && destroyElement && node->bOwned && node->pData)
            delete static_cast<T*>(node->pData);
        CNodeList::Release(node, destroyElement);
    }

    // Creates a default-constructed element and appends it. Null when the element or its node
    // cannot be had; an element without a node is destroyed again, never half-listed.
    T* AddNewTail(bool owned)
    {
        T* element = new (std::nothrow) T;
        if (!element)
            return NULL;
        if (!AddTail(element, owned))
        {
            delete element;
            return NULL;
        }
        return element;
    }

    T* GetHeadElement() const { return static_cast<T*>(GetHead()); }
};
