// Named mutexes: ownership, waiting between processes, abandonment, and
// creation by several processes at once.
#include <sched.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "FreshMachine.h"

namespace tbm::testing {
namespace {

constexpr WCHAR kSyncActive[] = u"TBMSyncActive";
constexpr WCHAR kSyncActiveMutex[] = u"TBMSyncActiveMutex";

using MutexTest = FreshMachine;

TEST_F(MutexTest, TheOwnerMayWaitAgainAndReleasesOncePerWait) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);

  std::atomic<DWORD> seen{WAIT_FAILED};
  std::thread([&] { seen = WaitForSingleObject(mutex, 0); }).join();
  EXPECT_EQ(seen.load(), WAIT_TIMEOUT);

  EXPECT_TRUE(ReleaseMutex(mutex));
  std::thread([&] { seen = WaitForSingleObject(mutex, 0); }).join();
  EXPECT_EQ(seen.load(), WAIT_TIMEOUT) << "still owned once";

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  std::thread([&] {
    seen = WaitForSingleObject(mutex, 0);
    if (seen == WAIT_OBJECT_0) ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(seen.load(), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseSharedHandle(mutex));
}

TEST_F(MutexTest, OnlyTheOwningThreadMayRelease) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  std::atomic<BOOL> released{TRUE};
  std::atomic<DWORD> error{0};
  std::thread([&] {
    released = ReleaseMutex(mutex);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(released.load());
  EXPECT_EQ(error.load(), ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
}

// The handheld's sync-active check against the agent's change of the word.
TEST_F(MutexTest, AWordWrittenUnderTheMutexIsSeenByAnotherProcess) {
  Pipe written;
  Pipe mayEnd;
  ChildProcess agent([&] {
    HANDLE section = CreateWordSection(kSyncActive);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
    if (section == nullptr || mutex == nullptr) return 1;
    auto* word = static_cast<DWORD*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    if (word == nullptr) return 2;
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 3;
    *word = 1;
    if (!ReleaseMutex(mutex)) return 4;
    UnmapViewOfFile(word);
    CloseSharedHandle(mutex);
    written.Send('w');
    if (mayEnd.Receive() != 'e') return 5;
    CloseSharedHandle(section);
    return 0;
  });
  ASSERT_EQ(written.Receive(), 'w');

  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  const auto* word = static_cast<const DWORD*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(word, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(*word, 1u);
  EXPECT_TRUE(ReleaseMutex(mutex));
  UnmapViewOfFile(word);
  CloseSharedHandle(mutex);
  CloseSharedHandle(section);

  mayEnd.Send('e');
  EXPECT_EQ(agent.Wait(), 0);
}

TEST_F(MutexTest, AWaiterTimesOutWhileAnotherProcessHoldsTheMutex) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  Pipe holding;
  Pipe mayRelease;
  ChildProcess holder([&] {
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex);
    if (opened == nullptr || WaitForSingleObject(opened, INFINITE) != WAIT_OBJECT_0) return 1;
    holding.Send('h');
    if (mayRelease.Receive() != 'r') return 2;
    return ReleaseMutex(opened) && CloseSharedHandle(opened) ? 0 : 3;
  });
  ASSERT_EQ(holding.Receive(), 'h');
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(mutex, 20), WAIT_TIMEOUT);
  mayRelease.Send('r');
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
}

TEST_F(MutexTest, AHolderKilledWhileHoldingLeavesTheMutexAbandonedAndUsable) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  Pipe holding;
  ChildProcess holder([&] {
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex);
    if (opened == nullptr || WaitForSingleObject(opened, INFINITE) != WAIT_OBJECT_0) return 1;
    holding.Send('h');
    ::pause();
    return 0;
  });
  ASSERT_EQ(holding.Receive(), 'h');
  holder.Kill();
  EXPECT_EQ(holder.Wait(), -SIGKILL);

  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));

  ChildProcess next([] {
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex);
    if (opened == nullptr) return 1;
    if (WaitForSingleObject(opened, 0) != WAIT_OBJECT_0) return 2;
    return ReleaseMutex(opened) ? 0 : 3;
  });
  EXPECT_EQ(next.Wait(), 0);
  CloseSharedHandle(mutex);
}

TEST_F(MutexTest, AWaiterInAnotherProcessIsToldWhenTheHolderDies) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  Pipe holding;
  Pipe waiting;
  ChildProcess holder([&] {
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 1;  // inherited handle
    holding.Send('h');
    ::pause();
    return 0;
  });
  ASSERT_EQ(holding.Receive(), 'h');
  ChildProcess waiter([&] {
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex);
    if (opened == nullptr) return 1;
    if (WaitForSingleObject(opened, 0) != WAIT_TIMEOUT) return 2;
    waiting.Send('w');
    const DWORD result = WaitForSingleObject(opened, INFINITE);
    if (result != WAIT_ABANDONED) return 3;
    return ReleaseMutex(opened) ? 0 : 4;
  });
  ASSERT_EQ(waiting.Receive(), 'w');
  holder.Kill();
  EXPECT_EQ(waiter.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
}

TEST_F(MutexTest, AThreadThatEndsHoldingTheMutexAbandonsIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  std::atomic<DWORD> taken{WAIT_FAILED};
  std::thread([&] { taken = WaitForSingleObject(mutex, INFINITE); }).join();
  ASSERT_EQ(taken.load(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

TEST_F(MutexTest, AnInitialOwnerOwnsOnlyAMutexItCreates) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ChildProcess latecomer([] {
    HANDLE opened = CreateMutexW(nullptr, TRUE, kSyncActiveMutex);
    if (opened == nullptr) return 1;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 2;
    if (WaitForSingleObject(opened, 0) != WAIT_TIMEOUT) return 3;  // the parent owns it
    if (ReleaseMutex(opened)) return 4;
    return CloseSharedHandle(opened) ? 0 : 5;
  });
  EXPECT_EQ(latecomer.Wait(), 0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
}

TEST_F(MutexTest, AHolderThatClosesItsHandleStillHoldsTheMutex) {
  Pipe closed;
  ChildProcess holder([&] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
    if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 1;
    if (!CloseSharedHandle(mutex)) return 2;
    closed.Send('c');
    ::pause();
    return 0;
  });
  ASSERT_EQ(closed.Receive(), 'c');
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
  holder.Kill();
  holder.Wait();
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseSharedHandle(mutex);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

TEST_F(MutexTest, TheMutexGoesWithItsLastHandle) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
  ASSERT_NE(mutex, nullptr);
  HANDLE second = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kSyncActiveMutex);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(CloseSharedHandle(mutex));
  EXPECT_EQ(HostObjectsOfThisMachine(), 1);
  EXPECT_TRUE(CloseSharedHandle(second));
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(MutexTest, WaitingAsksForAMutexHandle) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(WaitForSingleObject(section, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReleaseMutex(section));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenMutexW(0, FALSE, kSyncActiveMutex), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kSyncActiveMutex), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  CloseSharedHandle(section);
}

// Several processes create the mutex and the section at the same moment
// and count under the mutex. One mutex for all means no count is lost; two
// mutexes (or a mutex set up twice) would lose counts.
TEST_F(MutexTest, ProcessesCreatingAtOnceShareOneMutex) {
  constexpr int kProcesses = 4;
  constexpr int kCounts = 300;
  Pipe start;
  Pipe done;
  Pipe mayEnd;
  std::vector<std::unique_ptr<ChildProcess>> counters;
  for (int i = 0; i < kProcesses; ++i) {
    counters.push_back(std::make_unique<ChildProcess>([&] {
      if (start.Receive() != 's') return 1;
      HANDLE mutex = CreateMutexW(nullptr, FALSE, kSyncActiveMutex);
      const bool createdMutex = GetLastError() == ERROR_SUCCESS;
      HANDLE section = CreateWordSection(kSyncActive);
      if (mutex == nullptr || section == nullptr) return 2;
      auto* word = static_cast<volatile DWORD*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
      if (word == nullptr) return 3;
      for (int n = 0; n < kCounts; ++n) {
        if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 4;
        const DWORD before = *word;
        sched_yield();
        *word = before + 1;
        if (!ReleaseMutex(mutex)) return 5;
      }
      done.Send('d');
      if (mayEnd.Receive() != 'e') return 6;
      UnmapViewOfFile(const_cast<DWORD*>(word));
      CloseSharedHandle(section);
      CloseSharedHandle(mutex);
      return createdMutex ? 10 : 11;
    }));
  }
  for (int i = 0; i < kProcesses; ++i) start.Send('s');
  for (int i = 0; i < kProcesses; ++i) ASSERT_EQ(done.Receive(), 'd');

  HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive);
  ASSERT_NE(section, nullptr);
  const auto* word = static_cast<const DWORD*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(*word, static_cast<DWORD>(kProcesses * kCounts));
  UnmapViewOfFile(word);
  CloseSharedHandle(section);

  for (int i = 0; i < kProcesses; ++i) mayEnd.Send('e');
  int creators = 0;
  for (auto& counter : counters) {
    const int status = counter->Wait();
    EXPECT_TRUE(status == 10 || status == 11) << status;
    if (status == 10) ++creators;
  }
  EXPECT_EQ(creators, 1);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

}  // namespace
}  // namespace tbm::testing
