// The worker thread's protocol with real threads: start and its wait, the request queue, the
// hand-over of a sent request's result, and the ways a thread ends. Every timing is made by
// events the test controls, never by sleeping.
#include <gtest/gtest.h>
#include <vector>
#include "system/Thread.h"

namespace {

const LONG kCloseMark = 1000;   // logged by OnCloseRequest, between the processed codes
const LONG kBlockCode = 9;      // ProcessRequest waits for the gate on this code

HANDLE NewEvent(bool manualReset)
{
    return CreateEventA(NULL, manualReset ? TRUE : FALSE, FALSE, NULL);
}

bool Signaled(HANDLE handle, DWORD timeout = 0)
{
    return WaitForSingleObject(handle, timeout) == WAIT_OBJECT_0;
}

// Counters that outlive the worker, for the cases that destroy it.
struct Tally
{
    volatile LONG nInit = 0;
    volatile LONG nExit = 0;
    volatile LONG nClose = 0;
    volatile LONG nTimeout = 0;
};

class CTestWorker : public CWorkerThread
{
public:
    explicit CTestWorker(Tally* tally)
        : CWorkerThread("Test"), m_pTally(tally), m_hrInit(0), m_bInitReturned(false),
          m_bBlockInInit(false), m_bBlockOnQuit(false), m_bBlockOnHandle(false),
          m_hSelf(NULL), m_nHandlesSeen(0), m_nSignaledIndex(-1)
    {
        m_hGate = NewEvent(true);
        m_hEntered = NewEvent(false);
        m_hInitDone = NewEvent(true);
        m_hTimedOut = NewEvent(false);
    }

    ~CTestWorker() override
    {
        // The thread calls this object's hooks: it ends before they are gone.
        SetEvent(m_hGate);
        Shutdown();
        if (m_hSelf)
            CloseHandle(m_hSelf);
        CloseHandle(m_hGate);
        CloseHandle(m_hEntered);
        CloseHandle(m_hInitDone);
        CloseHandle(m_hTimedOut);
    }

    HRESULT OnInit() override
    {
        InterlockedIncrement(&m_pTally->nInit);
        if (m_hSelf)
            CloseHandle(m_hSelf);
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &m_hSelf,
                        0, FALSE, DUPLICATE_SAME_ACCESS);
        m_dwInitThread = GetCurrentThreadId();
        // The thread's message queue exists from here on, for PostThreadMessage.
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        if (m_bBlockInInit)
        {
            SetEvent(m_hEntered);
            WaitForSingleObject(m_hGate, INFINITE);
        }
        m_bInitReturned = true;
        SetEvent(m_hInitDone);
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
        m_nHandlesSeen = m_nHandles;
        // Blocking on the quit request leaves the poster free: Stop posts -2 and -1 one after
        // the other, and the queue is held while a request is processed.
        bool block = request.nCode == kBlockCode ||
                     (m_bBlockOnQuit && request.nCode == THREAD_REQUEST_QUIT);
        if (block)
        {
            SetEvent(m_hEntered);
            WaitForSingleObject(m_hGate, INFINITE);
        }
        return (HRESULT)request.dwParam1;
    }

    void OnHandleSignaled(HANDLE /*handle*/, int index) override
    {
        m_nSignaledIndex = index;
        SetEvent(m_hEntered);
        if (m_bBlockOnHandle)
            WaitForSingleObject(m_hGate, INFINITE);
    }

    void OnTimeout() override
    {
        InterlockedIncrement(&m_pTally->nTimeout);
        SetEvent(m_hTimedOut);
    }

    // Whether the thread of the last start has ended, read through a handle of the test's own.
    bool ThreadEnded(DWORD timeout = 0) { return m_hSelf && Signaled(m_hSelf, timeout); }
    DWORD ExitCode()
    {
        DWORD code = 0;
        GetExitCodeThread(m_hSelf, &code);
        return code;
    }
    int QueueCount()
    {
        CLockGuard guard(&m_QueueLock);
        return m_Queue.GetCount();
    }
    LONG QueuedCode(int position)
    {
        CLockGuard guard(&m_QueueLock);
        CNode* node = m_Queue.GetHeadNode();
        for (; node && position > 0; --position)
            node = node->pNext;
        return node ? static_cast<CThreadRequest*>(node->pData)->nCode : 0;
    }

    Tally* m_pTally;
    HRESULT m_hrInit;
    volatile bool m_bInitReturned;
    bool m_bBlockInInit;
    bool m_bBlockOnQuit;
    bool m_bBlockOnHandle;
    HANDLE m_hGate;       // opened by the test
    HANDLE m_hEntered;    // set when the thread reached a blocking point
    HANDLE m_hInitDone;
    HANDLE m_hTimedOut;
    HANDLE m_hSelf;
    DWORD m_dwInitThread = 0;
    volatile int m_nHandlesSeen;
    volatile int m_nSignaledIndex;
    std::vector<LONG> m_Log;
};

CThreadRequest Request(LONG code, DWORD param1 = 0)
{
    CThreadRequest request = { code, param1, 0, 0 };
    return request;
}

std::vector<LONG> Codes(std::initializer_list<LONG> codes)
{
    return std::vector<LONG>(codes);
}

DWORD WINAPI OpenGateWhenEntered(void* parameter)
{
    CTestWorker* worker = static_cast<CTestWorker*>(parameter);
    WaitForSingleObject(worker->m_hEntered, INFINITE);
    SetEvent(worker->m_hGate);
    return 0;
}

TEST(Thread, StartWaitsForInitAndStopClosesThenQuits)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bBlockInInit = true;
    EXPECT_EQ(10000u, worker.m_dwStopTimeout);

    // OnInit holds until another thread opens the gate: Start must not return before that.
    HANDLE opener = CreateThread(NULL, 0, OpenGateWhenEntered, &worker, 0, NULL);
    ASSERT_TRUE(opener != NULL);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_TRUE(worker.m_bInitReturned) << "Start returned before OnInit";
    WaitForSingleObject(opener, INFINITE);
    CloseHandle(opener);
    EXPECT_NE(GetCurrentThreadId(), worker.m_dwInitThread);
    EXPECT_EQ(worker.m_dwInitThread, worker.m_dwThreadId);
    EXPECT_TRUE(worker.m_hThread != NULL);

    EXPECT_EQ(S_FALSE, worker.Start(true)) << "a second Start on a running thread";
    EXPECT_EQ(1, tally.nInit);

    ASSERT_EQ(S_OK, worker.PostRequest(Request(5)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(6)));
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(Codes({ 5, 6 }), worker.m_Log);
    EXPECT_EQ(1, worker.m_nHandlesSeen) << "no wait handles: the request event alone";

    // ProcessRequest sees -2 and -1 too, before OnCloseRequest and the end of the loop.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(Codes({ 5, 6, -2, kCloseMark, -1 }), worker.m_Log);
    EXPECT_EQ(1, tally.nClose);
    EXPECT_EQ(1, tally.nExit);
    EXPECT_TRUE(worker.ThreadEnded());
    EXPECT_EQ(0u, worker.ExitCode());
    EXPECT_TRUE(worker.m_hThread == NULL);
    EXPECT_TRUE(worker.m_EventRequest.m_hEvent == NULL);
    EXPECT_TRUE(worker.m_EventDone.m_hEvent == NULL);
    EXPECT_TRUE(worker.m_EventResult.m_hEvent == NULL);
    EXPECT_TRUE(worker.m_EventGrabResult.m_hEvent == NULL);
    EXPECT_TRUE(worker.m_EventStarted.m_hEvent != NULL);
    EXPECT_TRUE(worker.m_EventEnded.m_hEvent != NULL);
    EXPECT_EQ(0, worker.QueueCount());

    // A second Stop finds nothing to do.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(1, tally.nClose);

    EXPECT_EQ(S_OK, worker.Shutdown());
    EXPECT_EQ(S_FALSE, worker.Shutdown());
    EXPECT_TRUE(worker.m_EventStarted.m_hEvent == NULL);
    EXPECT_EQ(S_OK, worker.Init());
    EXPECT_EQ(S_FALSE, worker.Init());
}

TEST(Thread, StartWithoutWaitAndRestartAfterStop)
{
    Tally tally;
    CTestWorker worker(&tally);
    EXPECT_EQ(S_OK, worker.Start(false));
    ASSERT_TRUE(Signaled(worker.m_hInitDone, 10000));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(1)));
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_FALSE(worker.Stop(true, false, false));
    HANDLE first = NULL;
    DuplicateHandle(GetCurrentProcess(), worker.m_hSelf, GetCurrentProcess(), &first, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);

    // The second run gets fresh events, and its requests are served.
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(2, tally.nInit);
    EXPECT_TRUE(worker.m_EventRequest.m_hEvent != NULL);
    EXPECT_TRUE(Signaled(first, 0)) << "the first run's thread still runs";
    ASSERT_EQ(S_OK, worker.PostRequest(Request(2)));
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(1234, worker.SendRequest(Request(3, 1234), 10000));
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(Codes({ 1, -2, kCloseMark, -1, 2, 3, -2, kCloseMark, -1 }), worker.m_Log);
    EXPECT_EQ(2, tally.nExit);
    CloseHandle(first);
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
        EXPECT_EQ(0x80070005u, worker.ExitCode()) << "round " << i;
    }
    EXPECT_EQ(20, tally.nInit);
    EXPECT_EQ(20, tally.nExit);
    EXPECT_FALSE(Signaled(worker.m_EventStarted.m_hEvent)) << "Started set by a failed OnInit";

    // Without waiting: the thread ends on its own; Stop then asks nothing of it.
    ResetEvent(worker.m_hInitDone);
    worker.Start(false);
    ASSERT_TRUE(Signaled(worker.m_hInitDone, 10000));
    ASSERT_TRUE(worker.ThreadEnded(10000));
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(0, worker.QueueCount()) << "requests posted to an ended thread";

    // The object starts cleanly once OnInit succeeds.
    worker.m_hrInit = S_OK;
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(7, worker.SendRequest(Request(4, 7), 10000));
    EXPECT_FALSE(worker.Stop(true, false, false));
}

TEST(Thread, CloseThenQuitLeavesTheRequestsBehindUnprocessed)
{
    Tally tally;
    CTestWorker worker(&tally);
    // Queued before the thread runs, so that its first pass sees all four.
    ASSERT_EQ(S_OK, worker.PostRequest(Request(THREAD_REQUEST_CLOSE)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(THREAD_REQUEST_QUIT)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(10)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(11)));
    worker.Start(true);
    ASSERT_TRUE(worker.ThreadEnded(10000)) << "the quit request did not end the loop";

    EXPECT_EQ(Codes({ -2, kCloseMark, -1 }), worker.m_Log);
    EXPECT_EQ(1, tally.nClose);
    EXPECT_EQ(1, tally.nExit);
    ASSERT_EQ(2, worker.QueueCount());
    EXPECT_EQ(10, worker.QueuedCode(0));
    EXPECT_EQ(11, worker.QueuedCode(1));

    // The thread is gone: Stop posts nothing more, and the two stay for the destructor to free.
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(2, worker.QueueCount());
    EXPECT_EQ(Codes({ -2, kCloseMark, -1 }), worker.m_Log);
}

struct SendArgs
{
    CTestWorker* worker;
    CThreadRequest request;
    HRESULT hr;
};

DWORD WINAPI SendOne(void* parameter)
{
    SendArgs* args = static_cast<SendArgs*>(parameter);
    args->hr = args->worker->SendRequest(args->request, INFINITE);
    return 0;
}

TEST(Thread, SendRequestHandsOverItsOwnResult)
{
    Tally tally;
    CTestWorker worker(&tally);
    HANDLE extra = NewEvent(false);
    ASSERT_TRUE(worker.AddWaitHandle(extra));
    worker.m_bBlockOnHandle = true;
    worker.m_bBlockInInit = true;
    ASSERT_EQ(S_OK, worker.Start(false));
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));

    // While OnInit holds, two posts and a send queue up; the send goes ahead of them.
    ASSERT_EQ(S_OK, worker.PostRequest(Request(1, 100)));
    ASSERT_EQ(S_OK, worker.PostRequest(Request(2, 200)));
    SendArgs args = { &worker, Request(3, 300), 0 };
    HANDLE sender = CreateThread(NULL, 0, SendOne, &args, 0, NULL);
    ASSERT_TRUE(sender != NULL);
    while (worker.QueueCount() < 3)
        SwitchToThread();
    EXPECT_EQ(3, worker.QueuedCode(0));
    SetEvent(worker.m_hGate);
    ASSERT_TRUE(Signaled(sender, 10000));
    CloseHandle(sender);
    EXPECT_EQ(300, args.hr);
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(Codes({ 3, 1, 2 }), worker.m_Log);
    EXPECT_EQ(2, worker.m_nHandlesSeen) << "the request event and the added handle";

    // A send whose own processing outlasts the time-out; its late result must not reach the
    // next sender.
    ResetEvent(worker.m_hGate);
    EXPECT_EQ(HR_SEND_TIMEOUT, worker.SendRequest(Request(kBlockCode, 77), 50));
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));
    SetEvent(worker.m_hGate);
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(88, worker.SendRequest(Request(4, 88), 10000));

    // A send while the thread is busy outside the queue: it times out, stays queued and is
    // processed later; the next send still gets its own result.
    ResetEvent(worker.m_hGate);
    SetEvent(extra);
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));
    EXPECT_EQ(0, worker.m_nSignaledIndex);
    EXPECT_EQ(HR_SEND_TIMEOUT, worker.SendRequest(Request(5, 55), 50));
    EXPECT_EQ(1, worker.QueueCount());
    SetEvent(worker.m_hGate);
    ASSERT_TRUE(Signaled(worker.m_EventDone.m_hEvent, 10000));
    EXPECT_EQ(66, worker.SendRequest(Request(6, 66), 10000));
    EXPECT_EQ(Codes({ 3, 1, 2, kBlockCode, 4, 5, 6 }), worker.m_Log);

    EXPECT_FALSE(worker.Stop(true, false, false));
    CloseHandle(extra);
}

struct StressArgs
{
    CTestWorker* worker;
    int nPosts;
    int nSends;
    volatile LONG nWrong;
    volatile LONG nDone;
};

DWORD WINAPI PostMany(void* parameter)
{
    StressArgs* args = static_cast<StressArgs*>(parameter);
    for (int i = 0; i < args->nPosts; ++i)
        args->worker->PostRequest(Request(1, 1000000 + i));
    return 0;
}

DWORD WINAPI SendMany(void* parameter)
{
    StressArgs* args = static_cast<StressArgs*>(parameter);
    for (int i = 0; i < args->nSends; ++i)
    {
        HRESULT hr = args->worker->SendRequest(Request(2, i), INFINITE);
        if (hr != i)
            InterlockedIncrement(&args->nWrong);
        InterlockedIncrement(&args->nDone);
    }
    return 0;
}

TEST(Thread, SendsAndPostsFromTwoThreadsNeitherDeadlockNorMixResults)
{
    Tally tally;
    CTestWorker worker(&tally);
    ASSERT_EQ(S_OK, worker.Start(true));
    StressArgs args = { &worker, 3000, 600, 0, 0 };
    HANDLE threads[3];
    threads[0] = CreateThread(NULL, 0, PostMany, &args, 0, NULL);
    threads[1] = CreateThread(NULL, 0, SendMany, &args, 0, NULL);
    threads[2] = CreateThread(NULL, 0, SendMany, &args, 0, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, threads, TRUE, 60000))
        << "deadlock: " << args.nDone << " of " << 2 * args.nSends << " sends answered";
    for (HANDLE thread : threads)
        CloseHandle(thread);
    EXPECT_EQ(0, args.nWrong) << "sends that got another request's result";
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(size_t(3000 + 2 * 600 + 3), worker.m_Log.size());
}

TEST(Thread, StopBoundedTerminatesAStuckThread)
{
    Tally tally;
    CTestWorker worker(&tally);
    HANDLE extra = NewEvent(false);
    ASSERT_TRUE(worker.AddWaitHandle(extra));
    worker.m_bBlockOnHandle = true;
    worker.m_dwStopTimeout = 200;
    ASSERT_EQ(S_OK, worker.Start(true));
    SetEvent(extra);
    ASSERT_TRUE(Signaled(worker.m_hEntered, 10000));

    EXPECT_TRUE(worker.Stop(true, false, true));
    EXPECT_TRUE(worker.ThreadEnded());
    EXPECT_EQ(0xDEADBEEFu, worker.ExitCode());
    EXPECT_TRUE(worker.m_hThread == NULL);
    EXPECT_EQ(0, tally.nExit) << "a terminated thread runs no OnExit";
    EXPECT_EQ(0, worker.m_WaitHandles.GetCount());
    CloseHandle(extra);
}

TEST(Thread, StopWithoutWaitLetsTheThreadFinishAlone)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bBlockOnQuit = true;
    ASSERT_EQ(S_OK, worker.Start(true));

    // The thread stops at the quit request on the closed gate: a Stop that waited would hang.
    EXPECT_FALSE(worker.Stop(false, false, false));
    EXPECT_TRUE(worker.m_hThread == NULL);
    EXPECT_TRUE(worker.m_EventRequest.m_hEvent != NULL) << "events closed under the thread";
    EXPECT_TRUE(worker.m_EventDone.m_hEvent != NULL);
    EXPECT_FALSE(worker.ThreadEnded());

    // A new start waits for the old thread, which then finishes its quit request.
    SetEvent(worker.m_hGate);
    EXPECT_EQ(S_OK, worker.Start(true));
    EXPECT_EQ(2, tally.nInit);
    EXPECT_EQ(1, tally.nExit);
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(2, tally.nExit);
    EXPECT_EQ(2, tally.nClose);

    // Stop without wait, then destruction: the destructor waits for the thread it let go.
    Tally second;
    CTestWorker* other = new CTestWorker(&second);
    other->m_bBlockOnQuit = true;
    ASSERT_EQ(S_OK, other->Start(true));
    HANDLE self = NULL;
    DuplicateHandle(GetCurrentProcess(), other->m_hSelf, GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    EXPECT_FALSE(other->Stop(false, false, false));
    EXPECT_FALSE(Signaled(self, 0));
    delete other;   // opens the gate, then has to wait for the thread it let go
    EXPECT_TRUE(Signaled(self, 0)) << "the thread outlived its object";
    EXPECT_EQ(1, second.nExit);
    CloseHandle(self);
}

TEST(Thread, SynchronousStopSendsTheQuit)
{
    Tally tally;
    CTestWorker worker(&tally);
    ASSERT_EQ(S_OK, worker.Start(true));
    EXPECT_FALSE(worker.Stop(true, true, false));
    EXPECT_EQ(Codes({ -1 }), worker.m_Log);
    EXPECT_EQ(0, tally.nClose);
    EXPECT_TRUE(worker.ThreadEnded());
}

TEST(Thread, DestroyWithoutStopEndsTheThreadFirst)
{
    Tally tally;
    CTestWorker* worker = new CTestWorker(&tally);
    ASSERT_EQ(S_OK, worker->Start(true));
    ASSERT_EQ(S_OK, worker->PostRequest(Request(1)));
    HANDLE self = NULL;
    DuplicateHandle(GetCurrentProcess(), worker->m_hSelf, GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    delete worker;
    EXPECT_TRUE(Signaled(self, 0)) << "the thread outlived its object";
    EXPECT_EQ(1, tally.nClose);
    EXPECT_EQ(1, tally.nExit);
    CloseHandle(self);
}

TEST(Thread, MessagePumpTimeoutAndQuitMessage)
{
    Tally tally;
    CTestWorker worker(&tally);
    worker.m_bPumpMessages = true;
    worker.SetWaitTimeout(20);
    ASSERT_EQ(S_OK, worker.Start(true));
    ASSERT_TRUE(Signaled(worker.m_hTimedOut, 10000)) << "no OnTimeout";

    // Requests are still served while the thread pumps messages.
    EXPECT_EQ(5, worker.SendRequest(Request(1, 5), 10000));

    // A WM_QUIT taken by PumpMessages ends the loop as a quit request does.
    ASSERT_TRUE(PostThreadMessageA(worker.m_dwThreadId, WM_QUIT, 0, 0));
    ASSERT_TRUE(worker.ThreadEnded(10000));
    EXPECT_EQ(1, tally.nExit);
    EXPECT_FALSE(worker.Stop(true, false, false));
    EXPECT_EQ(Codes({ 1 }), worker.m_Log);
}

}  // namespace
