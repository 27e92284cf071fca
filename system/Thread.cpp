#include "system/Thread.h"
#include <objbase.h>
#include <new>

bool CEventHandle::Create(bool manualReset)
{
    if (!m_hEvent)
        m_hEvent = CreateEventA(NULL, manualReset ? TRUE : FALSE, FALSE, NULL);
    return m_hEvent != NULL;
}

void CEventHandle::Close()
{
    if (m_hEvent)
    {
        CloseHandle(m_hEvent);
        m_hEvent = NULL;
    }
}

// ---------------------------------------------------------------------------------------------

CThread::CThread(const char* name)
    : m_pszName(name),
      m_EventDone("CThread::m_EventDone"),
      m_EventRequest("CThread::m_EventRequest"),
      m_EventResult("CThread::m_EventResult"),
      m_EventGrabResult("CThread::m_EventGrabResult"),
      m_EventStarted("CThread::m_EventStarted"),
      m_EventEnded("CThread::m_EventEnded"),
      m_hrResult(0),
      m_dwThreadId(0),
      m_hThread(NULL),
      m_bInitialized(false),
      m_dwStopTimeout(10000),
      m_hLeftThread(NULL)
{
    m_EventDone.Create(false);
    m_EventRequest.Create(false);
    m_EventResult.Create(false);
    m_EventGrabResult.Create(false);
    m_EventStarted.Create(false);
    m_EventEnded.Create(false);
    Init();
}

CThread::~CThread()
{
    Shutdown();
}

HRESULT CThread::Init()
{
    if (m_bInitialized)
        return S_FALSE;
    m_hThread = NULL;
    m_dwThreadId = 0;
    m_hrResult = 0;
    m_bInitialized = true;
    m_EventStarted.Create(false);
    m_EventEnded.Create(false);
    return S_OK;
}

HRESULT CThread::Shutdown()
{
    if (!m_bInitialized)
        return S_FALSE;
    Stop(true, false, false);
    m_EventStarted.Close();
    m_EventEnded.Close();
    m_bInitialized = false;
    return S_OK;
}

bool CThread::IsThreadRunning() const
{
    return m_hThread && WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT;
}

bool CThread::CreateRunEvents()
{
    bool made = m_EventRequest.Create(false);
    made = m_EventDone.Create(false) && made;
    made = m_EventResult.Create(true) && made;
    made = m_EventGrabResult.Create(true) && made;
    return made;
}

HRESULT CThread::Start(bool wait)
{
    if (m_hThread)
    {
        if (IsThreadRunning())
            return S_FALSE;
        // The thread ended on its own (a quit request, WM_QUIT): only its handle is left.
        CloseHandle(m_hThread);
        m_hThread = NULL;
    }
    // A thread that an earlier Stop let go still uses the events; the new one must not share them.
    // It was told to quit long ago: it gets the time of a bounded stop, no more.
    WaitAndClose(&m_hLeftThread, true);

    Init();
    // The new thread waits on the request event from its first instant, so the events of the
    // run exist before it does. A Started signal left by a terminated thread must not release
    // this Start before OnInit has run.
    if (!CreateRunEvents() || !m_EventStarted.m_hEvent || !m_EventEnded.m_hEvent)
        return E_FAIL;
    m_EventStarted.Reset();

    m_hThread = CreateThread(NULL, 0, ThreadStart, this, 0, &m_dwThreadId);
    if (!m_hThread)
        return E_FAIL;

    if (wait)
    {
        // The thread's end releases the wait as well: when OnInit fails, Started is never set.
        HANDLE handles[2] = { m_EventStarted.m_hEvent, m_hThread };
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }
    if (!IsThreadRunning())
    {
        CloseHandle(m_hThread);
        m_hThread = NULL;
        return E_FAIL;
    }
    return S_OK;
}

DWORD WINAPI CThread::ThreadStart(void* parameter)
{
    if (!parameter)
        return (DWORD)E_OUTOFMEMORY;
    CThread* thread = static_cast<CThread*>(parameter);
    HRESULT hr = thread->Run();
    // The last touch of the object: the owner destroys it only after the thread has ended.
    thread->m_EventEnded.Set();
    return (DWORD)hr;
}

bool CThread::Stop(bool wait, bool /*synchronous*/, bool bounded)
{
    return EndThread(wait, bounded);
}

bool CThread::WaitAndClose(HANDLE* thread, bool bounded)
{
    if (!*thread)
        return false;
    bool terminated = false;
    if (WaitForSingleObject(*thread, bounded ? m_dwStopTimeout : INFINITE) == WAIT_TIMEOUT)
    {
        TerminateThread(*thread, THREAD_TERMINATED_EXIT_CODE);
        // Termination is asynchronous; the events are closed only once the thread is gone.
        WaitForSingleObject(*thread, INFINITE);
        terminated = true;
    }
    CloseHandle(*thread);
    *thread = NULL;
    return terminated;
}

bool CThread::EndThread(bool wait, bool bounded)
{
    if (!wait)
    {
        if (m_hThread)
        {
            m_hLeftThread = m_hThread;
            m_hThread = NULL;
        }
        return false;
    }
    bool terminated = WaitAndClose(&m_hThread, bounded);
    if (WaitAndClose(&m_hLeftThread, true))
        terminated = true;
    m_EventRequest.Close();
    m_EventDone.Close();
    m_EventResult.Close();
    m_EventGrabResult.Close();
    return terminated;
}

// ---------------------------------------------------------------------------------------------

CWorkerThread::CWorkerThread(const char* name)
    : CThread(name),
      m_bPumpMessages(false),
      m_dwWaitTimeout(INFINITE),
      m_nHandles(0),
      m_phHandles(NULL)
{
}

CWorkerThread::~CWorkerThread()
{
    Shutdown();
}

HRESULT CWorkerThread::Run()
{
    HRESULT hrCom = CoInitialize(NULL);
    HRESULT hr = OnInit();
    if (hr < 0)
    {
        OnExit();
        m_hrResult = hr;
        if (SUCCEEDED(hrCom))
            CoUninitialize();
        return m_hrResult;
    }
    m_EventEnded.Reset();
    m_EventStarted.Set();

    // Built once per run: handles added later are waited for from the next start.
    int count = m_WaitHandles.GetCount() + 1;
    HANDLE* handles = new (std::nothrow) HANDLE[count];
    if (!handles)
    {
        OnExit();
        m_hrResult = E_OUTOFMEMORY;
        if (SUCCEEDED(hrCom))
            CoUninitialize();
        return m_hrResult;
    }
    handles[0] = m_EventRequest.m_hEvent;
    int index = 1;
    for (CNode* node = m_WaitHandles.GetHeadNode(); node && index < count; node = node->pNext)
        handles[index++] = static_cast<HANDLE>(node->pData);
    m_nHandles = count;
    m_phHandles = handles;

    for (;;)
    {
        DWORD waitResult;
        if (m_bPumpMessages)
            waitResult = MsgWaitForMultipleObjectsEx(count, handles, m_dwWaitTimeout, 0xFF,
                                                     MWMO_INPUTAVAILABLE);
        else
            waitResult = WaitForMultipleObjects(count, handles, FALSE, m_dwWaitTimeout);
        if (!OnWaitResult(waitResult))
            break;
    }

    m_phHandles = NULL;
    m_nHandles = 0;
    delete[] handles;
    hr = OnExit();
    if (hr < 0)
        m_hrResult = hr;
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return m_hrResult;
}

bool CWorkerThread::OnWaitResult(DWORD waitResult)
{
    DWORD count = (DWORD)m_nHandles;
    if (waitResult == WAIT_OBJECT_0)
    {
        if (ProcessQueue())
            return false;
        OnAfterWait();
        return true;
    }
    if (waitResult > WAIT_OBJECT_0 && waitResult < WAIT_OBJECT_0 + count)
    {
        OnHandleSignaled(m_phHandles[waitResult - WAIT_OBJECT_0],
                         (int)(waitResult - WAIT_OBJECT_0) - 1);
        OnAfterWait();
        return true;
    }
    if (waitResult == WAIT_OBJECT_0 + count)
    {
        // Only a wait that pumps messages gives this value: input for the thread's windows.
        if (PumpMessages() != 1)
            return false;
        OnAfterWait();
        return true;
    }
    if (waitResult == WAIT_TIMEOUT)
    {
        OnTimeout();
        OnAfterWait();
        return true;
    }
    // A wait that failed (a handle closed under the thread) fails again at once: going on would
    // only spin.
    if (waitResult == WAIT_FAILED)
        return false;
    OnAfterWait();
    return true;
}

// Done is set while the queue is still held: a request queued after the pass then resets it
// after this set, never before, so Done never stands while a request waits.
bool CWorkerThread::ProcessQueue()
{
    CLockGuard guard(&m_QueueLock);
    bool quit = false;
    while (!quit && m_Queue.GetCount() > 0)
    {
        const CThreadRequest* request = m_Queue.GetHeadElement();
        LONG code = request->nCode;
        HRESULT hr = ProcessRequest(*request);
        if (m_EventGrabResult.TryWait())
        {
            // A sender waits for this result: hand it over and let the sender read it before
            // anything else can change m_hrResult.
            m_EventGrabResult.Reset();
            m_hrResult = hr;
            m_EventResult.Set();
            m_HandOffLock.Lock();
            m_HandOffLock.Unlock();
        }
        if (code == THREAD_REQUEST_QUIT)
            quit = true;
        else if (code == THREAD_REQUEST_CLOSE)
            OnCloseRequest();
        m_Queue.RemoveHead();
    }
    m_EventDone.Set();
    return quit;
}

int CWorkerThread::PumpMessages()
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE))
        return 1;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE))
    {
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0 || got == -1)
            return got;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 1;
}

bool CWorkerThread::AddWaitHandle(HANDLE handle)
{
    return m_WaitHandles.AddTail(handle, false) != NULL;
}

HRESULT CWorkerThread::Enqueue(const CThreadRequest& request, bool atHead)
{
    CLockGuard guard(&m_QueueLock);
    CThreadRequest* copy = new (std::nothrow) CThreadRequest(request);
    if (!copy)
        return E_OUTOFMEMORY;
    CNode* node = atHead ? m_Queue.AddHead(copy, true) : m_Queue.AddTail(copy, true);
    if (!node)
    {
        delete copy;
        return E_OUTOFMEMORY;
    }
    m_EventRequest.Set();
    return S_OK;
}

HRESULT CWorkerThread::PostRequest(const CThreadRequest& request)
{
    CLockGuard guard(&m_QueueLock);
    m_EventDone.Reset();
    return Enqueue(request, false);
}

// The locks are taken in the worker's order, queue before hand-off, and the grab-result event
// is set while the queue is held: the worker is then between two passes, and the first request
// of its next pass is this one. So no result of a posted request is handed over, and the
// worker never waits for the hand-off lock while this sender waits for the queue. A sender that
// timed out leaves its grab signal behind; the late hand-over takes the free hand-off lock, and
// the next sender resets the result event before it queues.
HRESULT CWorkerThread::SendRequest(const CThreadRequest& request, DWORD timeout)
{
    CLockGuard sender(&m_SendLock);
    {
        CLockGuard queue(&m_QueueLock);
        m_HandOffLock.Lock();
        m_EventDone.Reset();
        m_EventResult.Reset();
        m_EventGrabResult.Set();
        HRESULT hr = Enqueue(request, true);
        if (hr < 0)
        {
            m_EventGrabResult.Reset();
            m_HandOffLock.Unlock();
            return hr;
        }
    }
    HRESULT hr = HR_SEND_TIMEOUT;
    if (m_EventResult.m_hEvent &&
        WaitForSingleObject(m_EventResult.m_hEvent, timeout) == WAIT_OBJECT_0)
        hr = GetResult();
    m_HandOffLock.Unlock();
    return hr;
}

HRESULT CWorkerThread::ProcessRequest(const CThreadRequest& /*request*/)
{
    return S_OK;
}

void CWorkerThread::OnHandleSignaled(HANDLE /*handle*/, int /*index*/)
{
}

bool CWorkerThread::Stop(bool wait, bool synchronous, bool bounded)
{
    if (IsThreadRunning())
    {
        CThreadRequest request = { 0, 0, 0, 0 };
        if (synchronous)
        {
            request.nCode = THREAD_REQUEST_QUIT;
            SendRequest(request, INFINITE);
        }
        else
        {
            request.nCode = THREAD_REQUEST_CLOSE;
            PostRequest(request);
            request.nCode = THREAD_REQUEST_QUIT;
            PostRequest(request);
        }
    }
    bool terminated = EndThread(wait, bounded);
    m_WaitHandles.RemoveAll();
    return terminated;
}
