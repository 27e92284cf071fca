// The one kind of second thread of the setup: CThread, a thread object with its events and a
// start-and-wait protocol, and CWorkerThread, whose thread waits on a request queue (and on
// further handles) while it pumps the messages of its own windows. CLock and CLockGuard hold a
// critical section for the length of a scope; CEventHandle owns one unnamed event.
#pragma once
#include <windows.h>
#include "base/NodeList.h"

// Result of SendRequest when the time-out passed before the thread handed over a result.
const HRESULT HR_SEND_TIMEOUT = (HRESULT)0x8004022E;
// Exit code of a thread that did not end within the bound of Stop.
const DWORD THREAD_TERMINATED_EXIT_CODE = 0xDEADBEEF;

class CLock
{
public:
    CLock() { InitializeCriticalSection(&m_Section); }
    virtual ~CLock() { DeleteCriticalSection(&m_Section); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    virtual void Lock() { EnterCriticalSection(&m_Section); }
    virtual void Unlock() { LeaveCriticalSection(&m_Section); }

    CRITICAL_SECTION m_Section;
};

class CLockGuard
{
public:
    explicit CLockGuard(CLock* lock) : m_pLock(lock)
    {
        if (m_pLock)
            m_pLock->Lock();
    }
    ~CLockGuard()
    {
        if (m_pLock)
            m_pLock->Unlock();
    }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

    CLock* m_pLock;
};

// The label only tells the members apart when debugging; every event is unnamed.
class CEventHandle
{
public:
    explicit CEventHandle(const char* label = NULL) : m_pszLabel(label), m_hEvent(NULL) {}
    ~CEventHandle() { Close(); }
    CEventHandle(const CEventHandle&) = delete;
    CEventHandle& operator=(const CEventHandle&) = delete;

    // Makes the event unless it exists already. False when it could not be made.
    bool Create(bool manualReset);
    void Close();
    bool Set() { return m_hEvent && SetEvent(m_hEvent); }
    bool Reset() { return m_hEvent && ResetEvent(m_hEvent); }
    // True when a wait of time-out 0 succeeds (which takes the signal of an auto-reset event).
    bool TryWait() { return m_hEvent && WaitForSingleObject(m_hEvent, 0) == WAIT_OBJECT_0; }

    const char* m_pszLabel;
    HANDLE m_hEvent;
};

// Codes with a meaning for every worker thread; any other code is the derived class's.
enum
{
    THREAD_REQUEST_QUIT = -1,   // the thread's loop ends after it
    THREAD_REQUEST_CLOSE = -2   // OnCloseRequest runs, the loop goes on
};

struct CThreadRequest
{
    LONG nCode;
    DWORD dwParam1;
    DWORD dwParam2;
    DWORD dwParam3;
};

class CThread
{
public:
    explicit CThread(const char* name);
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // The thread's body; returns the thread's result.
    virtual HRESULT Run() = 0;
    // First on the new thread; a negative result ends the thread before it is started.
    virtual HRESULT OnInit() { return 0; }
    // Request code THREAD_REQUEST_CLOSE.
    virtual void OnCloseRequest() {}
    // Last on the thread; a negative result becomes the thread's result.
    virtual HRESULT OnExit() { return 0; }
    virtual HRESULT GetResult() { return m_hrResult; }
    // 0 when the thread runs, 1 when it was running already, 0x80004005 when it could not be
    // made or has ended already (OnInit failed). With wait, returns once OnInit has returned.
    virtual HRESULT Start(bool wait);
    // Ends the thread; returns true when it had to be terminated.
    virtual bool Stop(bool wait, bool synchronous, bool bounded);

    HRESULT Init();
    // Stops the thread and closes the events. A class that overrides the hooks calls it in its
    // own destructor: the thread calls them until it has ended.
    HRESULT Shutdown();

    const char* m_pszName;
    CEventHandle m_EventDone;
    CEventHandle m_EventRequest;
    CEventHandle m_EventResult;
    CEventHandle m_EventGrabResult;
    CEventHandle m_EventStarted;
    CEventHandle m_EventEnded;
    volatile HRESULT m_hrResult;
    DWORD m_dwThreadId;
    // The running thread. Only the owner's thread reads, waits on and closes it; the thread's
    // own exit path never touches it, so it is closed exactly once, after every wait on it.
    HANDLE m_hThread;
    bool m_bInitialized;
    DWORD m_dwStopTimeout;
    // A thread that Stop without waiting let go. It still runs towards its end with the events
    // of this object, so the next Start and the final Shutdown wait for it before going on, at
    // most m_dwStopTimeout: then it is terminated, as by a bounded stop.
    HANDLE m_hLeftThread;

protected:
    // Waits for the thread to end, terminating it after m_dwStopTimeout when bounded, and for a
    // thread let go before, always bounded; closes the handles and the four events of the run.
    bool EndThread(bool wait, bool bounded);
    bool IsThreadRunning() const;

private:
    static DWORD WINAPI ThreadStart(void* parameter);
    bool WaitAndClose(HANDLE* thread, bool bounded);
    bool CreateRunEvents();
};

class CWorkerThread : public CThread
{
public:
    explicit CWorkerThread(const char* name);
    ~CWorkerThread() override;

    HRESULT Run() override;
    bool Stop(bool wait, bool synchronous, bool bounded) override;

    virtual void SetWaitTimeout(DWORD milliseconds) { m_dwWaitTimeout = milliseconds; }
    // The handle is waited for from the next start of the thread on; it is not owned.
    virtual bool AddWaitHandle(HANDLE handle);
    virtual HRESULT PostRequest(const CThreadRequest& request);
    // Processes the request ahead of the posted ones and returns its result, or
    // HR_SEND_TIMEOUT when the time-out passed first (the request stays queued).
    virtual HRESULT SendRequest(const CThreadRequest& request, DWORD timeout);
    // False ends the thread's loop.
    virtual bool OnWaitResult(DWORD waitResult);
    virtual HRESULT ProcessRequest(const CThreadRequest& request);
    virtual void OnHandleSignaled(HANDLE handle, int index);
    virtual void OnTimeout() {}
    virtual void OnAfterWait() {}
    // 1 to go on, anything else (0 for WM_QUIT) ends the loop.
    virtual int PumpMessages();

    COwnerNodeList<CThreadRequest> m_Queue;
    CNodeList m_WaitHandles;
    CLock m_QueueLock;
    CLock m_HandOffLock;
    // One sender at a time: a second sender would otherwise hold the queue lock while it waits
    // for the hand-off lock of the first, which waits for the queue.
    CLock m_SendLock;
    bool m_bPumpMessages;
    DWORD m_dwWaitTimeout;
    int m_nHandles;
    HANDLE* m_phHandles;

protected:
    HRESULT Enqueue(const CThreadRequest& request, bool atHead);
    // Works through the queue; true when a quit request was met.
    bool ProcessQueue();
};
