// The worker thread's protocol with real threads. Every timing is made by events the test
// controls, never by sleeping.
#include <gtest/gtest.h>
#include <vector>
#include "system/Thread.h"

namespace {

const LONG kCloseMark = 1000;   // logged by OnCloseRequest, between the processed codes
const LONG kBlockCode = 9;      // ProcessRequest waits for the gate on this code
typedef std::vector<LONG> Codes;

bool Signaled(HANDLE handle, DWORD timeout = 0)
{
    return WaitForSingleObject(handle, timeout) == WAIT_OBJECT_0;
}

DWORD ExitCode(HANDLE thread)
{
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    return code;
}

// Counters and thread handles that outlive the worker, for the cases that destroy it.
struct Tally
{
    ~Tally() { for (HANDLE thread : threads) CloseHandle(thread); }
    volatile LONG nInit = 0, nExit = 0, nClose = 0;
    std::vector<HANDLE> threads;   // every run's thread, through a handle of the test's own
};

class CTestWorker : public CWorkerThread
{
public:
    explicit CTestWorker(Tally* tally) : CWorkerThread("Test"), m_pTally(tally)
    {
        m_hGate = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_hEntered = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    ~CTestWorker() override
    {
        // The thread calls this object's hooks: it ends before they are gone.
        SetEvent(m_hGate);
        Shutdown();
        for (HANDLE handle : { m_hGate, m_hEntered })
            CloseHandle(handle);
    }

    HRESULT OnInit() override
    {
        HANDLE self = NULL;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        m_pTally->threads.push_back(self);
        MSG msg;   // the thread's message queue exists from here on, for PostThreadMessage
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        Block(m_bBlockInInit);
        InterlockedIncrement(&m_pTally->nInit);
        return m_hrInit;
    }
    HRESULT OnExit() override
    {
        InterlockedIncrement(&m_pTally->nExit);
        return 0;
    }
    void OnCloseRequest() override
    {
        InterlockedIncrement(&m_pTally->nClose);
        m_Log.push_back(kCloseMark);
    }
    HRESULT ProcessRequest(const CThreadRequest& request) override
    {
        m_Log.push_back(request.nCode);
        // Blocking on the quit request leaves the poster free: Stop posts -2 and -1 one after
        // the other, and the queue is held while a request is processed.
        Block(request.nCode == kBlockCode ||
              (m_bBlockOnQuit && request.nCode == THREAD_REQUEST_QUIT));
        return (HRESULT)request.dwParam1;
    }
    void OnHandleSignaled(HANDLE /*handle*/, int index) override
    {
        m_nSignaledIndex = index;
        Block(true);
    }
    void OnTimeout() override { SetEvent(m_hEntered); }

    void Block(bool block)
    {
        if (!block)
            return;
        SetEvent(m_hEntered);
        WaitForSingleObject(m_hGate, INFINITE);
    }
    bool ThreadEnded(DWORD timeout = 0) { return Signaled(m_pTally->threads.back(), timeout); }
    int QueueCount()
    {
        CLockGuard guard(&m_QueueLock);
        return m_Queue.GetCount();
    }

    Tally* m_pTally;
    HRESULT m_hrInit = S_OK;
    bool m_bBlockInInit = false;
    bool m_bBlockOnQuit = false;
    HANDLE m_hGate;       // opened by the test
    HANDLE m_hEntered;    // set when the thread reached a blocking point or timed out
    volatile int m_nSignaledIndex = -1;
    std::vector<LONG> m_Log;
};

CThreadRequest Request(LONG code, DWORD param1 = 0)
{
    CThreadRequest request = { code, param1, 0, 0 };
    return request;
}

DWORD WINAPI OpenGateWhenEntered(void* parameter)
{
    CTestWorker* worker = static_cast<CTestWorker*>(parameter);
    WaitForSingleObject(worker->m_hEntered, INFINITE);
    SetEvent(worker->m_hGate);
    return 0;
}

TEST(Thread, StartStopAndRestartAfterEachKindOfStop)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bBlockInInit = true;
    // OnInit holds until another thread opens the gate: Start must not return before that.
    HANDLE opener = CreateThread(NULL, 0, OpenGateWhenEntered, &worker, 0, NULL);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(1, tally.nInit) << "Start returned before OnInit";
    WaitForSingleObject(opener, INFINITE);
    CloseHandle(opener);
    EXPECT_EQ(S_FALSE, worker.Start(true)) << "a second Start on a running thread";
    ASSERT_EQ(S_OK, worker.PostRequest(Request(5)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(6)));
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    // ProcessRequest sees -2 and -1 too, before OnCloseRequest and the end of the loop.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(Codes({5, 6, -2, kCloseMark, -1}), worker.m_Log);
    EXPECT_TRUE(worker.ThreadEnded());
    EXPECT_EQ(0u, ExitCode(tally.threads[0]));
    EXPECT_TRUE(worker.m_hThread == NULL && worker.m_EventRequest.m_hEvent == NULL);
    EXPECT_FALSE(worker.Stop(true, false, false)) << "a second Stop";

    // The second run stops at the quit request on the closed gate: a Stop that waited would hang.
    worker.m_bBlockInInit = false;
    worker.m_bBlockOnQuit = true;
    ResetEvent(worker.m_hGate);
    EXPECT_EQ(S_OK, worker.Start(true));
    ASSERT_EQ(2, tally.nInit);
    EXPECT_FALSE(worker.Stop(false, false, false));
    EXPECT_TRUE(worker.m_hThread == NULL);
    EXPECT_TRUE(worker.m_EventRequest.m_hEvent != NULL) << "events closed under the thread";
    EXPECT_FALSE(worker.ThreadEnded());

    // The third start waits for the thread let go; a synchronous Stop sends the quit alone.
    SetEvent(worker.m_hGate);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(2, tally.nExit);
    EXPECT_EQ(1234, worker.SendRequest(Request(3, 1234), 10000));
    EXPECT_FALSE(worker.Stop(true, true, false));
    EXPECT_EQ(Codes({5, 6, -2, kCloseMark, -1, -2, kCloseMark, -1, 3, -1}), worker.m_Log);
    EXPECT_EQ(2, tally.nClose);
    EXPECT_EQ(3, tally.nExit);
    EXPECT_TRUE(worker.ThreadEnded());
}

TEST(Thread, FailingInitEndsTheThreadAndStartReportsIt)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_hrInit = (HRESULT)0x80070005;
    // Repeated, so that the thread's end also comes before Start begins to wait.
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(E_FAIL, worker.Start(true)) << "round " << i;
        EXPECT_EQ((HRESULT)0x80070005, worker.GetResult()) << "round " << i;
        EXPECT_TRUE(worker.m_hThread == NULL) << "round " << i;
        EXPECT_TRUE(worker.ThreadEnded(10000)) << "round " << i;
        EXPECT_EQ(0x80070005u, ExitCode(tally.threads.back())) << "round " << i;
    }
    EXPECT_EQ(20, tally.nExit);
    EXPECT_FALSE(Signaled(worker.m_EventStarted.m_hEvent)) << "Started set by a failed OnInit";
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(0, worker.QueueCount()) << "requests posted to an ended thread";
}

TEST(Thread, CloseThenQuitLeavesTheRequestsBehindUnprocessed)
{
    Tally tally;
    CTestWorker worker(&tally);
    // Queued before the thread runs, so that its first pass sees all four.
    for (LONG code : Codes({ THREAD_REQUEST_CLOSE, THREAD_REQUEST_QUIT, 10, 11 }))
        ASSERT_EQ(S_OK, worker.PostRequest(Request(code)));
    worker.Start(true);
    ASSERT_TRUE(worker.ThreadEnded(10000)) << "the quit request did not end the loop";
    EXPECT_EQ(Codes({ -2, kCloseMark, -1 }), worker.m_Log);
    EXPECT_EQ(1, tally.nExit);
    EXPECT_EQ(2, worker.QueueCount());

    // The thread is gone: Stop posts nothing more, and the two stay for the destructor to free.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(2, worker.QueueCount());
    EXPECT_EQ(Codes({ -2, kCloseMark, -1 }), worker.m_Log);
}

TEST(Thread, SendGoesFirstAndALateResultReachesNoOtherSender)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bBlockInInit = true;
    ASSERT_EQ(S_OK, worker.Start(false));
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));

    // While OnInit holds: two posts, then a send that times out in the queue, ahead of them.
    ASSERT_EQ(S_OK, worker.PostRequest(Request(1, 100)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(2, 200)));
    EXPECT_EQ(HR_SEND_TIMEOUT, worker.SendRequest(Request(3, 300), 50));
    EXPECT_EQ(3, worker.QueueCount()) << "a timed-out send stays queued";
    SetEvent(worker.m_hGate);
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(Codes({ 3, 1, 2 }), worker.m_Log);
    EXPECT_EQ(44, worker.SendRequest(Request(4, 44), 10000));

    // Timed out while its own processing runs: the late 77 must not reach the next sender.
    ResetEvent(worker.m_hGate);
    EXPECT_EQ(HR_SEND_TIMEOUT, worker.SendRequest(Request(kBlockCode, 77), 50));
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));
    SetEvent(worker.m_hGate);
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(88, worker.SendRequest(Request(5, 88), 10000));
    EXPECT_EQ(Codes({ 3, 1, 2, 4, kBlockCode, 5 }), worker.m_Log);
}

volatile LONG g_nWrongResults;

// Run by two threads at once: each send must get its own result among the other's traffic.
DWORD WINAPI PostAndSend(void* parameter)
{
    CTestWorker* worker = static_cast<CTestWorker*>(parameter);
    for (int i = 0; i < 200; ++i)
    {
        worker->PostRequest(Request(1, 1000000 + i));
        if (worker->SendRequest(Request(2, i), INFINITE) != i)
            InterlockedIncrement(&g_nWrongResults);
    }
    return 0;
}

TEST(Thread, SendsAndPostsFromTwoThreadsNeitherDeadlockNorMixResults)
{
    Tally tally;
    CTestWorker worker(&tally);
    ASSERT_EQ(S_OK, worker.Start(true));
    HANDLE threads[2] = { CreateThread(NULL, 0, PostAndSend, &worker, 0, NULL),
                          CreateThread(NULL, 0, PostAndSend, &worker, 0, NULL) };
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 60000))
        << "deadlock";
    for (HANDLE thread : threads)
        CloseHandle(thread);
    EXPECT_EQ(0, g_nWrongResults) << "sends that got another request's result";
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(size_t(400 + 400 + 3), worker.m_Log.size());
}

DWORD WINAPI StopBounded(void* parameter)
{
    return static_cast<CTestWorker*>(parameter)->Stop(true, false, true) ? 0 : 1;
}

DWORD WINAPI StartAgain(void* parameter)
{
    return (DWORD)static_cast<CTestWorker*>(parameter)->Start(true);
}

DWORD WINAPI ShutDown(void* parameter)
{
    return (DWORD)static_cast<CTestWorker*>(parameter)->Shutdown();
}

TEST(Thread, EveryWaitForAStuckThreadIsBounded)
{
    // A bounded Stop of a thread stuck in the handler of an extra wait handle; the next Start and
    // the Shutdown after a Stop without wait let a thread go that does not end. Each waits
    // m_dwStopTimeout, then terminates the thread, which runs no OnExit.
    for (LPTHREAD_START_ROUTINE next : {StopBounded, StartAgain, ShutDown})
    {
        Tally tally;
        CTestWorker worker(&tally);
        HANDLE extra = CreateEventA(NULL, FALSE, FALSE, NULL);
        ASSERT_TRUE(worker.AddWaitHandle(extra));
        worker.m_dwStopTimeout = 50;
        ASSERT_EQ(S_OK, worker.Start(true));
        SetEvent(extra);
        ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));
        EXPECT_EQ(0, worker.m_nSignaledIndex);
        if (next != StopBounded)
        {
            EXPECT_FALSE(worker.Stop(false, false, false));
        }
        HANDLE caller = CreateThread(NULL, 0, next, &worker, 0, NULL);
        EXPECT_TRUE(Signaled(caller, 10000)) << "still waiting after 10 s for the stuck thread";
        SetEvent(worker.m_hGate);
        WaitForSingleObject(caller, INFINITE);
        EXPECT_EQ(0u, ExitCode(caller));
        EXPECT_EQ(0xDEADBEEFu, ExitCode(tally.threads[0]));
        // Only the new run of StartAgain, which takes the close and quit left queued, exits.
        EXPECT_TRUE(next != StartAgain || worker.ThreadEnded(10000));
        EXPECT_EQ(next == StartAgain ? 1 : 0, tally.nExit);
        EXPECT_EQ(0, worker.m_WaitHandles.GetCount());
        CloseHandle(caller);
        CloseHandle(extra);
    }
}

TEST(Thread, DestroyEndsTheThreadFirst)
{
    // Without Stop, and after a Stop without wait: the destructor waits for the thread.
    for (bool stopFirst : { false, true })
    {
        Tally tally;
        CTestWorker* worker = new CTestWorker(&tally);
        worker->m_bBlockOnQuit = stopFirst;
        ASSERT_EQ(S_OK, worker->Start(true));
        ASSERT_EQ(S_OK, worker->PostRequest(Request(1)));
        if (stopFirst)
        {
            EXPECT_FALSE(worker->Stop(false, false, false));
            EXPECT_FALSE(worker->ThreadEnded());
        }
        delete worker;   // opens the gate first
        EXPECT_TRUE(Signaled(tally.threads[0])) << "the thread outlived its object, " << stopFirst;
        EXPECT_EQ(1, tally.nClose) << stopFirst;
        EXPECT_EQ(1, tally.nExit) << stopFirst;
    }
}

TEST(Thread, MessagePumpTimeoutAndQuitMessage)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bPumpMessages = true;
    worker.SetWaitTimeout(20);
    ASSERT_EQ(S_OK, worker.Start(true));
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000)) << "no OnTimeout";

    // Requests are still served while the thread pumps messages.
    EXPECT_EQ(5, worker.SendRequest(Request(1, 5), 10000));

    // A WM_QUIT taken by PumpMessages ends the loop as a quit request does.
    ASSERT_TRUE(PostThreadMessageA(worker.m_dwThreadId, WM_QUIT, 0, 0));
    ASSERT_TRUE(worker.ThreadEnded(10000));
    EXPECT_EQ(1, tally.nExit);
    EXPECT_EQ(Codes({ 1 }), worker.m_Log);
}

}  // namespace
