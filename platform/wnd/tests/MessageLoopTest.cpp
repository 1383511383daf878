// Messages within one process: posting, the loop that drains the queue,
// the descriptor an outside event loop watches, and sends between threads.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "WindowTesting.h"

namespace tbm {
namespace {

using testing::FreshMachine;
using testing::PumpUntil;

constexpr UINT kSelfDestroy = WM_APP + 20;  // destroys its window, answers 42
constexpr UINT kDouble = WM_APP + 21;       // answers wParam * 2

struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  pid_t thread;
};

// What a recording window saw; its GWLP_USERDATA points here.
struct Recorder {
  std::mutex mutex;
  std::vector<Received> received;

  void Add(const Received& message) {
    std::lock_guard lock(mutex);
    received.push_back(message);
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return received.size();
  }
  std::vector<Received> Copy() {
    std::lock_guard lock(mutex);
    return received;
  }
};

LRESULT Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  recorder->Add({window, message, wParam, lParam, ::gettid()});
  if (message == kSelfDestroy) {
    DestroyWindow(window);
    return 42;
  }
  if (message == kDouble) return static_cast<LRESULT>(wParam * 2);
  return 0;
}

struct Answer {
  LRESULT value = 0;
  DWORD error = 0;  // the sender's last error after the send
};

// Sends from a thread of its own while this thread answers its messages.
Answer SendFromAnotherThread(HWND window, UINT message, WPARAM wParam) {
  std::atomic<bool> done{false};
  Answer answer;
  std::thread sender([&] {
    answer.value = SendMessageW(window, message, wParam, 0);
    answer.error = GetLastError();
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  sender.join();
  return answer;
}

bool Readable(int descriptor) {
  pollfd wait{descriptor, POLLIN, 0};
  return ::poll(&wait, 1, 0) == 1;
}

class MessageLoop : public FreshMachine {
 protected:
  // Outlives the windows, which the fixture destroys after each test.
  Recorder recorder;
};

TEST_F(MessageLoop, PostedMessagesReachTheWindowProcedureInOrder) {
  HWND frame = Make(u"TBMMainFrame", u"", WS_VISIBLE, 0, Recording, &recorder);
  for (WPARAM i = 0; i < 100; ++i) ASSERT_TRUE(PostMessageW(frame, WM_APP + 1, i, -1));
  PostQuitMessage(7);

  EXPECT_EQ(RunMessageLoop(), 7);
  const auto received = recorder.Copy();
  ASSERT_EQ(received.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) {
    EXPECT_EQ(received[i].wParam, i);
    EXPECT_EQ(received[i].window, frame);
    EXPECT_EQ(received[i].message, WM_APP + 1);
    EXPECT_EQ(received[i].lParam, -1);
  }
}

TEST_F(MessageLoop, MessagesPostedFromOtherThreadsKeepEachThreadsOrder) {
  HWND frame = Make(u"TBMMainFrame", u"", WS_VISIBLE, 0, Recording, &recorder);
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([frame, t] {
      for (int i = 0; i < kEach; ++i) PostMessageW(frame, WM_APP + 2, i, t);
    });
  }
  for (auto& poster : posters) poster.join();
  PostQuitMessage(0);
  EXPECT_EQ(RunMessageLoop(), 0);

  const auto received = recorder.Copy();
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kEach));
  std::vector<WPARAM> next(kThreads, 0);
  for (const Received& message : received) {
    EXPECT_EQ(message.wParam, next[message.lParam]++) << "poster " << message.lParam;
    EXPECT_EQ(message.thread, ::gettid()) << "procedures run on the owning thread";
  }
}

TEST_F(MessageLoop, ASendFromTheOwningThreadRunsTheProcedureAtOnce) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  EXPECT_EQ(SendMessageW(frame, kDouble, 21, 0), 42);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(recorder.Count(), 1u);
}

TEST_F(MessageLoop, ASendFromAnotherThreadIsAnsweredOnTheOwningThread) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  const Answer answer = SendFromAnotherThread(frame, kDouble, 50);
  EXPECT_EQ(answer.value, 100);
  EXPECT_EQ(answer.error, ERROR_SUCCESS);
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(recorder.Copy()[0].thread, ::gettid());
}

TEST_F(MessageLoop, TheQueueDescriptorIsReadableExactlyWhileMessagesWait) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  const int queue = MessageQueueDescriptor();
  ASSERT_GE(queue, 0);
  DispatchPendingMessages();
  EXPECT_FALSE(Readable(queue));

  PostMessageW(frame, WM_APP + 3, 1, 0);
  PostMessageW(frame, WM_APP + 3, 2, 0);
  EXPECT_TRUE(Readable(queue));
  EXPECT_EQ(DispatchPendingMessages(), 2u);
  EXPECT_EQ(recorder.Count(), 2u);
  EXPECT_FALSE(Readable(queue));

  // A message sent from another thread makes it readable as well.
  std::atomic<bool> done{false};
  std::thread sender([&] {
    SendMessageW(frame, kDouble, 1, 0);
    done = true;
  });
  pollfd wait{queue, POLLIN, 0};
  EXPECT_EQ(::poll(&wait, 1, 30000), 1);
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  sender.join();
  EXPECT_EQ(recorder.Count(), 3u);
}

TEST_F(MessageLoop, DispatchingPendingMessagesLeavesTheQuitRequestToTheLoop) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  PostMessageW(frame, WM_APP + 4, 0, 0);
  PostQuitMessage(3);
  EXPECT_EQ(DispatchPendingMessages(), 1u);
  MSG message{};
  EXPECT_EQ(GetMessageW(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_FALSE(Readable(MessageQueueDescriptor())) << "the quit request is taken once";
}

TEST_F(MessageLoop, MessagesPostedToTheThreadCarryNoWindow) {
  ASSERT_TRUE(PostMessageW(nullptr, WM_APP + 5, 9, 10));
  MSG message{};
  ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.hwnd, nullptr);
  EXPECT_EQ(message.message, WM_APP + 5);
  EXPECT_EQ(message.wParam, 9u);
  EXPECT_EQ(message.lParam, 10);
  EXPECT_EQ(DispatchMessageW(&message), 0);
}

TEST_F(MessageLoop, GetMessageTakesOnlyWhatItsFilterAllows) {
  HWND first = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  HWND second = Make(u"TBMDialog", u"", 0, 0, Recording, &recorder);
  PostMessageW(first, WM_APP + 6, 1, 0);
  PostMessageW(second, WM_APP + 6, 2, 0);
  PostMessageW(first, WM_USER + 1, 3, 0);

  MSG message{};
  ASSERT_EQ(GetMessageW(&message, second, 0, 0), TRUE);
  EXPECT_EQ(message.wParam, 2u);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_USER, WM_USER + 10, PM_NOREMOVE));
  EXPECT_EQ(message.wParam, 3u);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_USER, WM_USER + 10, PM_REMOVE));
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&message, second, 0, 0, PM_REMOVE));
  ASSERT_EQ(GetMessageW(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageLoop, DestroyingAWindowDropsItsPostedMessagesAndTellsItsProcedure) {
  HWND frame = CreateWindowExW(0, u"TBMMainFrame", u"", 0, Recording, &recorder);
  ASSERT_NE(frame, nullptr);
  HWND other = Make(u"TBMDialog", u"", 0, 0, Recording, &recorder);
  PostMessageW(frame, WM_APP + 7, 0, 0);
  PostMessageW(other, WM_APP + 8, 0, 0);
  ASSERT_TRUE(DestroyWindow(frame));
  PostQuitMessage(0);
  RunMessageLoop();

  const auto received = recorder.Copy();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].message, WM_DESTROY);
  EXPECT_EQ(received[0].window, frame);
  EXPECT_EQ(received[1].message, WM_APP + 8);
  EXPECT_FALSE(PostMessageW(frame, WM_APP + 7, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessageLoop, OnlyTheOwningThreadMayDestroyAWindow) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  BOOL destroyed = TRUE;
  DWORD error = 0;
  std::thread other([&] {
    destroyed = DestroyWindow(frame);
    error = GetLastError();
  });
  other.join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(frame));
}

TEST_F(MessageLoop, AWindowDestroyedWhileAnsweringStillGivesItsAnswer) {
  HWND frame = CreateWindowExW(0, u"TBMMainFrame", u"", 0, Recording, &recorder);
  ASSERT_NE(frame, nullptr);
  const Answer answer = SendFromAnotherThread(frame, kSelfDestroy, 0);
  EXPECT_EQ(answer.value, 42);
  EXPECT_EQ(answer.error, ERROR_SUCCESS);
  EXPECT_FALSE(IsWindow(frame));
}

TEST_F(MessageLoop, ASendToABusyThreadTimesOutAndTheLateAnswerHarmsNobody) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  LRESULT answered = 0;
  DWORD_PTR result = 0;
  DWORD error = 0;
  std::thread sender([&] {
    answered = SendMessageTimeoutW(frame, kDouble, 5, 0, SMTO_NORMAL, 50, &result);
    error = GetLastError();
  });
  sender.join();  // this thread answers nothing meanwhile
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(error, ERROR_TIMEOUT);

  // The abandoned request is answered into a closed connection; the window
  // goes on answering the next sender.
  const Answer next = SendFromAnotherThread(frame, kDouble, 6);
  EXPECT_EQ(next.value, 12);
  EXPECT_EQ(next.error, ERROR_SUCCESS);
  EXPECT_EQ(recorder.Count(), 2u) << "the late request was answered too";
}

TEST_F(MessageLoop, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  HWND mine = Make(u"TBMMainFrame", u"", 0, 0, Recording, &recorder);
  std::atomic<HWND> theirs{nullptr};
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  LRESULT answer = 0;
  std::thread other([&] {
    Recorder otherRecorder;
    HWND window = CreateWindowExW(0, u"TBMDialog", u"", 0, Recording, &otherRecorder);
    theirs = window;
    // While this thread waits for our answer, we send to its window: each
    // answers the other while waiting.
    answer = SendMessageW(mine, kDouble, 8, 0);
    done = true;
    PumpUntil([&] { return stop.load(); });
    DestroyWindow(window);
  });
  // Not answering meanwhile, so that one of the two sends has to be answered
  // by a thread that is itself waiting.
  while (theirs.load() == nullptr) std::this_thread::yield();
  EXPECT_EQ(SendMessageW(theirs.load(), kDouble, 4, 0), 8);
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  stop = true;
  other.join();
  EXPECT_EQ(answer, 16);
}

}  // namespace
}  // namespace tbm
