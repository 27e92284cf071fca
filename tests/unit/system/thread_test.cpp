// The worker thread's protocol with real threads. Every timing is made by events the test
// controls, never by sleeping.
#include <gtest/gtest.h>
#include <vector>
#include "system/Thread.h"

namespace {

const LONG kCloseMark = 1000;   // logged by OnCloseRequest, between the processed codes
const LONG kBlockCode = 9;      // ProcessRequest waits for the gate on this code
typedef std::vector<LONG> Codes;

bool Signaled(HANDLE handle, DWORD timeout = 0) { return WaitForSingleObject(handle, timeout) == WAIT_OBJECT_0; }
DWORD ExitCode(HANDLE thread) { DWORD code = 0; GetExitCodeThread(thread, &code); return code; }
CThreadRequest Request(LONG code, DWORD param1 = 0) { return CThreadRequest{ code, param1, 0, 0 }; }

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
    explicit CTestWorker(Tally* tally) : CWorkerThread("Test"), m_pTally(tally) {}
    // The thread calls this object's hooks: it ends before they are gone.
    ~CTestWorker() override { SetEvent(m_hGate); Shutdown(); CloseHandle(m_hGate); CloseHandle(m_hEntered); }
    HRESULT OnInit() override
    {
        m_pTally->threads.push_back(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId()));
        MSG msg;   // the thread's message queue exists from here on, for PostThreadMessage
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        Block(m_bBlockInInit);
        InterlockedIncrement(&m_pTally->nInit);
        return m_hrInit;
    }
    HRESULT OnExit() override { InterlockedIncrement(&m_pTally->nExit); return 0; }
    void OnCloseRequest() override { InterlockedIncrement(&m_pTally->nClose); m_Log.push_back(kCloseMark); }
    HRESULT ProcessRequest(const CThreadRequest& request) override
    {
        m_Log.push_back(request.nCode);
        // Blocking on the quit request leaves the poster free: Stop posts -2 and -1 in a row.
        Block(request.nCode == kBlockCode || (m_bBlockOnQuit && request.nCode == THREAD_REQUEST_QUIT));
        return (HRESULT)request.dwParam1;
    }
    void OnHandleSignaled(HANDLE, int index) override { m_nSignaledIndex = index; Block(true); }
    void Block(bool block) { if (block) SignalObjectAndWait(m_hEntered, m_hGate, INFINITE, FALSE); }
    bool ThreadEnded(DWORD timeout = 0) { return Signaled(m_pTally->threads.back(), timeout); }
    int QueueCount() { CLockGuard guard(&m_QueueLock); return m_Queue.GetCount(); }

    Tally* m_pTally;
    HRESULT m_hrInit = S_OK;
    bool m_bBlockInInit = false, m_bBlockOnQuit = false;
    HANDLE m_hGate = CreateEventA(NULL, TRUE, FALSE, NULL);       // opened by the test
    HANDLE m_hEntered = CreateEventA(NULL, FALSE, FALSE, NULL);   // the thread reached a block
    volatile int m_nSignaledIndex = -1;
    std::vector<LONG> m_Log;
};

struct ThreadTest : ::testing::Test { Tally tally; CTestWorker worker{&tally}; };

DWORD WINAPI OpenGateWhenEntered(void* worker)
{
    WaitForSingleObject(static_cast<CTestWorker*>(worker)->m_hEntered, INFINITE);
    return SetEvent(static_cast<CTestWorker*>(worker)->m_hGate);
}

TEST_F(ThreadTest, StartStopAndRestartAfterEachKindOfStop)
{
    worker.m_bBlockInInit = true;
    // OnInit holds until another thread opens the gate: Start must not return before that.
    HANDLE opener = CreateThread(NULL, 0, OpenGateWhenEntered, &worker, 0, NULL);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(1, tally.nInit) << "Start returned before OnInit";
    EXPECT_TRUE(Signaled(opener, INFINITE) && CloseHandle(opener));
    EXPECT_EQ(S_FALSE, worker.Start(true)) << "a second Start on a running thread";
    ASSERT_EQ(S_OK, worker.PostRequest(Request(5)));
    // ProcessRequest sees -2 and -1 too, before OnCloseRequest and the end of the loop.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(Codes({5, -2, kCloseMark, -1}), worker.m_Log);
    EXPECT_TRUE(worker.ThreadEnded() && worker.m_hThread == NULL && worker.m_EventRequest.m_hEvent == NULL);
    // The second run stops at the quit request on the closed gate: a Stop that waited would hang.
    worker.m_bBlockInInit = false;
    worker.m_bBlockOnQuit = true;
    ResetEvent(worker.m_hGate);
    EXPECT_EQ(S_OK, worker.Start(true));
    worker.Stop(false, false, false);
    EXPECT_TRUE(worker.m_EventRequest.m_hEvent != NULL) << "events closed under the thread";
    EXPECT_FALSE(worker.ThreadEnded());
    EXPECT_TRUE(!worker.m_hThread && worker.m_hLeftThread) << "the thread let go is not kept for the next Start";
    // The third start waits for the thread let go; a sent request is answered; a synchronous
    // Stop sends the quit alone.
    SetEvent(worker.m_hGate);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(2, tally.nExit);
    EXPECT_EQ(1234, worker.SendRequest(Request(3, 1234), 10000));
    EXPECT_FALSE(worker.Stop(true, true, false));
    EXPECT_EQ(Codes({5, -2, kCloseMark, -1, -2, kCloseMark, -1, 3, -1}), worker.m_Log);
    EXPECT_EQ(3, tally.nExit);
}

TEST_F(ThreadTest, AFailedInitAQuitRequestOrAQuitMessageEndsTheThread)
{
    worker.m_hrInit = (HRESULT)0x80070005;
    for (int i = 0; i < 10; ++i)   // repeated, so that the thread also ends before Start waits
    {
        EXPECT_EQ(E_FAIL, worker.Start(true)) << "round " << i;
        EXPECT_TRUE(worker.ThreadEnded(10000) && worker.m_hThread == NULL) << "round " << i;
        EXPECT_EQ(0x80070005u, ExitCode(tally.threads.back())) << "round " << i;
    }
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(0, worker.QueueCount()) << "requests posted to an ended thread";
    worker.m_hrInit = S_OK;
    ASSERT_EQ(S_OK, worker.Start(true));
    for (LONG code : Codes({ THREAD_REQUEST_CLOSE, THREAD_REQUEST_QUIT, 10, 11 }))
        ASSERT_EQ(S_OK, worker.PostRequest(Request(code)));
    ASSERT_TRUE(worker.ThreadEnded(10000)) << "the quit request did not end the loop";
    EXPECT_FALSE(worker.Stop(true, false, false));   // the thread is gone: posts nothing more
    EXPECT_EQ(Codes({ -2, kCloseMark, -1 }), worker.m_Log);
    EXPECT_EQ(2, worker.QueueCount()) << "requests behind the quit were processed or lost";
    // A WM_QUIT taken by the message pump ends the next run.
    worker.m_bPumpMessages = true;
    ASSERT_EQ(S_OK, worker.Start(true));
    ASSERT_TRUE(PostThreadMessageA(worker.m_dwThreadId, WM_QUIT, 0, 0));
    ASSERT_TRUE(worker.ThreadEnded(10000)) << "WM_QUIT did not end the loop";
    EXPECT_EQ(12, tally.nExit);
}

DWORD WINAPI PostAndSend(void* parameter)
{
    CTestWorker* worker = static_cast<CTestWorker*>(parameter);
    DWORD wrong = 0;   // each send must get its own result among the other thread's traffic
    for (int i = 0; i < 100; ++i)
        wrong += worker->PostRequest(Request(1, 1000000 + i)) || worker->SendRequest(Request(2, i), INFINITE) != i;
    return wrong;
}

TEST_F(ThreadTest, SendsGetTheirOwnResult)
{
    ASSERT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(HR_SEND_TIMEOUT, worker.SendRequest(Request(kBlockCode, 77), 50));
    ASSERT_TRUE(SetEvent(worker.m_hGate) && Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(88, worker.SendRequest(Request(5, 88), 10000)) << "the late 77 reached this sender";
    // Two threads that post and send at once neither deadlock nor get each other's results.
    HANDLE threads[2] = { CreateThread(NULL, 0, PostAndSend, &worker, 0, NULL),
                          CreateThread(NULL, 0, PostAndSend, &worker, 0, NULL) };
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 60000)) << "deadlock";
    for (HANDLE thread : threads)
        EXPECT_TRUE(ExitCode(thread) == 0 && CloseHandle(thread)) << ExitCode(thread) << " wrong results";
}

DWORD WINAPI StopBounded(void* worker) { return !static_cast<CTestWorker*>(worker)->Stop(true, false, true); }
DWORD WINAPI StartAgain(void* worker) { return (DWORD)static_cast<CTestWorker*>(worker)->Start(true); }
DWORD WINAPI ShutDown(void* worker) { return (DWORD)static_cast<CTestWorker*>(worker)->Shutdown(); }

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
        ASSERT_TRUE(SetEvent(extra) && Signaled(worker.m_hEntered, 10000)) << "a signalled extra handle was not handled";
        EXPECT_EQ(0, worker.m_nSignaledIndex);
        if (next != StopBounded)
            worker.Stop(false, false, false);
        HANDLE caller = CreateThread(NULL, 0, next, &worker, 0, NULL);
        EXPECT_TRUE(Signaled(caller, 10000)) << "still waiting after 10 s for the stuck thread";
        EXPECT_TRUE(SetEvent(worker.m_hGate) && Signaled(caller, INFINITE));
        EXPECT_EQ(0u, ExitCode(caller));
        EXPECT_EQ(0xDEADBEEFu, ExitCode(tally.threads[0]));
        // Only StartAgain's new run exits, on the close and quit still queued: once it has ended.
        EXPECT_TRUE(next != StartAgain || (tally.threads.size() == 2 && Signaled(tally.threads[1], 10000)));
        EXPECT_EQ(next == StartAgain ? 1 : 0, tally.nExit);
        EXPECT_TRUE(CloseHandle(caller) && CloseHandle(extra));
    }
}

TEST(Thread, DestroyEndsTheThreadFirst)
{
    for (bool stopFirst : { false, true })   // without Stop, and after a Stop without wait
    {
        Tally tally;
        CTestWorker* worker = new CTestWorker(&tally);
        worker->m_bBlockOnQuit = stopFirst;
        ASSERT_EQ(S_OK, worker->Start(true));
        if (stopFirst)
            worker->Stop(false, false, false);
        delete worker;   // opens the gate first
        EXPECT_TRUE(Signaled(tally.threads[0])) << "the thread outlived its object, " << stopFirst;
        EXPECT_TRUE(tally.nClose == 1 && tally.nExit == 1) << tally.nClose << tally.nExit << stopFirst;
    }
}

}  // namespace
