// Named sections: creation, sharing between processes, life and death.
#include <cstring>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FreshMachine.h"

namespace tbm::testing {
namespace {

constexpr WCHAR kSyncActive[] = u"TBMSyncActive";
constexpr WCHAR kRpcBlock[] = u"TBMRpcMemBlock";

using SectionTest = FreshMachine;

TEST_F(SectionTest, ANewSectionIsZeroFilledAndItsCreatorIsTold) {
  SetLastError(ERROR_INVALID_DATA);
  HANDLE section =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kRpcBlock);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto* bytes = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4096), std::vector<unsigned char>(4096, 0));
  EXPECT_TRUE(UnmapViewOfFile(bytes));
  EXPECT_TRUE(CloseSharedHandle(section));
}

TEST_F(SectionTest, CreatingAnExistingSectionOpensItAndSaysSo) {
  HANDLE first = CreateWordSection(kSyncActive);
  ASSERT_NE(first, nullptr);
  DWORD* word = Word(first);
  ASSERT_NE(word, nullptr);
  *word = 1;

  // A larger size asked of an existing section does not change it.
  HANDLE second =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, kSyncActive);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MapViewOfFile(second, FILE_MAP_WRITE, 0, 0, 8192), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  DWORD* again = Word(second);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(*again, 1u);
  *again = 2;
  EXPECT_EQ(*word, 2u);

  EXPECT_TRUE(UnmapViewOfFile(word));
  EXPECT_TRUE(UnmapViewOfFile(again));
  EXPECT_TRUE(CloseSharedHandle(first));
  EXPECT_TRUE(CloseSharedHandle(second));
}

TEST_F(SectionTest, AWordWrittenInOneProcessIsReadInAnother) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  ChildProcess writer([] {
    HANDLE opened = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kSyncActive);
    if (opened == nullptr) return 1;
    if (!WriteWord(opened, 1)) return 2;
    CloseSharedHandle(opened);
    return 0;
  });
  ASSERT_EQ(writer.Wait(), 0);
  EXPECT_EQ(ReadWord(section), 1u);
  CloseSharedHandle(section);
}

TEST_F(SectionTest, TheSectionGoesWithItsLastHandle) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  DWORD* word = Word(section);
  ASSERT_NE(word, nullptr);
  *word = 7;
  EXPECT_EQ(HostObjectsOfThisMachine(), 1);
  EXPECT_TRUE(UnmapViewOfFile(word));
  EXPECT_TRUE(CloseSharedHandle(section));

  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE fresh = CreateWordSection(kSyncActive);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  word = Word(fresh);
  ASSERT_NE(word, nullptr);
  EXPECT_EQ(*word, 0u);
  UnmapViewOfFile(word);
  CloseSharedHandle(fresh);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

TEST_F(SectionTest, AViewKeepsTheSectionAfterItsHandleIsClosed) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  DWORD* word = Word(section);
  ASSERT_NE(word, nullptr);
  *word = 42;
  EXPECT_TRUE(CloseSharedHandle(section));

  HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive);
  ASSERT_NE(opened, nullptr);
  const auto* seen = static_cast<const DWORD*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 4));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(*seen, 42u);
  EXPECT_TRUE(UnmapViewOfFile(seen));
  EXPECT_TRUE(CloseSharedHandle(opened));

  EXPECT_TRUE(UnmapViewOfFile(word));
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SectionTest, ASectionLivesOnWhileAnotherProcessHoldsIt) {
  Pipe created;
  Pipe mayEnd;
  ChildProcess creator([&] {
    HANDLE section = CreateWordSection(kSyncActive);
    DWORD* word = section != nullptr ? Word(section) : nullptr;
    if (word == nullptr) return 1;
    *word = 5;
    created.Send('c');
    if (mayEnd.Receive() != 'e') return 2;
    UnmapViewOfFile(word);
    CloseSharedHandle(section);
    return 0;
  });
  ASSERT_EQ(created.Receive(), 'c');
  HANDLE opened = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kSyncActive);
  ASSERT_NE(opened, nullptr);
  mayEnd.Send('e');
  ASSERT_EQ(creator.Wait(), 0);

  EXPECT_EQ(ReadWord(opened), 5u);
  CloseSharedHandle(opened);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

TEST_F(SectionTest, TwoMachineRootsDoNotShareASection) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  DWORD* word = Word(section);
  ASSERT_NE(word, nullptr);
  *word = 1;

  ScratchFolder otherRoot("tbm-shm-other");
  ChildProcess otherHandheld([&] {
    ::setenv("TBM_DEVICE_ROOT", otherRoot.path().c_str(), 1);
    if (OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive) != nullptr) return 1;
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return 2;
    HANDLE own = CreateWordSection(kSyncActive);
    if (own == nullptr || GetLastError() != ERROR_SUCCESS) return 3;
    DWORD* ownWord = Word(own);
    if (ownWord == nullptr || *ownWord != 0) return 4;
    *ownWord = 9;
    UnmapViewOfFile(ownWord);
    CloseSharedHandle(own);
    return 0;
  });
  EXPECT_EQ(otherHandheld.Wait(), 0);

  ChildProcess sameHandheld([] {
    HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive);
    if (opened == nullptr) return 1;
    const auto* seen = static_cast<const DWORD*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    return seen != nullptr && *seen == 1 ? 0 : 2;
  });
  EXPECT_EQ(sameHandheld.Wait(), 0);
  EXPECT_EQ(*word, 1u);
  UnmapViewOfFile(word);
  CloseSharedHandle(section);
}

TEST_F(SectionTest, TheDesktopsNamesAreNotTheHandhelds) {
  ScratchFolder desktopRoot("tbm-shm-desktop");
  ScopedEnvironment desktop("TBM_DESKTOP_ROOT", desktopRoot.path().c_str());
  HANDLE handheld = CreateWordSection(kSyncActive);
  ASSERT_NE(handheld, nullptr);
  ChildProcess onDesktop([] {
    SelectMachine(Machine::Desktop);
    if (OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive) != nullptr) return 1;
    return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 2;
  });
  EXPECT_EQ(onDesktop.Wait(), 0);
  CloseSharedHandle(handheld);
}

TEST_F(SectionTest, ALeftoverOfAKilledLastHolderIsDiscarded) {
  Pipe created;
  ChildProcess holder([&] {
    HANDLE section = CreateWordSection(kSyncActive);
    DWORD* word = section != nullptr ? Word(section) : nullptr;
    if (word == nullptr) return 1;
    *word = 5;
    created.Send('c');
    ::pause();
    return 0;
  });
  ASSERT_EQ(created.Receive(), 'c');
  holder.Kill();
  EXPECT_EQ(holder.Wait(), -SIGKILL);
  EXPECT_EQ(HostObjectsOfThisMachine(), 1);  // the host keeps the name until someone asks

  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
  HANDLE fresh = CreateWordSection(kSyncActive);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(ReadWord(fresh), 0u);
  CloseSharedHandle(fresh);
}

TEST_F(SectionTest, AHandleOpenedForReadingMapsForReadingOnly) {
  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  HANDLE reader = OpenFileMappingW(FILE_MAP_READ, FALSE, kSyncActive);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
  const void* view = MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 0);
  EXPECT_NE(view, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(view));

  HANDLE readOnly =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 4, kSyncActive);
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseSharedHandle(readOnly);
  CloseSharedHandle(reader);
  CloseSharedHandle(section);
}

TEST_F(SectionTest, ViewsStartOnTheAllocationGranularityAndStayInside) {
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      3 * SHARED_ALLOCATION_GRANULARITY, kRpcBlock);
  ASSERT_NE(section, nullptr);
  auto* whole = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(whole, nullptr);
  whole[SHARED_ALLOCATION_GRANULARITY] = 0x5A;
  whole[3 * SHARED_ALLOCATION_GRANULARITY - 1] = 0xA5;

  const auto* second = static_cast<const unsigned char*>(
      MapViewOfFile(section, FILE_MAP_READ, 0, SHARED_ALLOCATION_GRANULARITY, 0));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second[0], 0x5A);
  EXPECT_EQ(second[2 * SHARED_ALLOCATION_GRANULARITY - 1], 0xA5);

  EXPECT_EQ(MapViewOfFile(section, FILE_MAP_READ, 0, 4096, 16), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(section, FILE_MAP_READ, 0, 3 * SHARED_ALLOCATION_GRANULARITY, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(section, FILE_MAP_READ, 0, 2 * SHARED_ALLOCATION_GRANULARITY,
                          SHARED_ALLOCATION_GRANULARITY + 1),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(section, FILE_MAP_READ, 1, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  EXPECT_TRUE(UnmapViewOfFile(second));
  EXPECT_TRUE(UnmapViewOfFile(whole));
  CloseSharedHandle(section);
}

TEST_F(SectionTest, BadArgumentsAreRefusedWithTheirErrors) {
  HANDLE someFile = reinterpret_cast<HANDLE>(std::uintptr_t{0x4653000000000001ull});
  EXPECT_EQ(CreateFileMappingW(someFile, nullptr, PAGE_READWRITE, 0, 4, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, kSyncActive),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, 0x40, 0, 4, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 1, 0, kSyncActive),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(OpenFileMappingW(0, FALSE, kSyncActive), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  const std::u16string tooLong(260, u'n');
  EXPECT_EQ(
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, tooLong.c_str()),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);

  EXPECT_EQ(MapViewOfFile(nullptr, FILE_MAP_READ, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  int local = 0;
  EXPECT_FALSE(UnmapViewOfFile(&local));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_FALSE(CloseSharedHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  HANDLE section = CreateWordSection(kSyncActive);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(MapViewOfFile(section, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseSharedHandle(section));
  EXPECT_FALSE(CloseSharedHandle(section));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SectionTest, NamesAreExactAndAnyCharacterMayBeInThem) {
  const std::u16string names[] = {
      u"TBMSyncActive",
      u"tbmsyncactive",
      u"/Program Files/Tabulon/Tabulon Mobile.exe",
      u"\\Program Files\\Tabulon\\Tabulon Mobile.exe",
      u"%002FProgram Files%002FTabulon%002FTabulon Mobile.exe",
      u"Données ~ 価格",
      std::u16string(259, u'x'),
      std::u16string(258, u'x') + u"y",
  };
  std::vector<HANDLE> sections;
  DWORD number = 1;
  for (const auto& name : names) {
    HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name.c_str());
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a name met another: " << number;
    DWORD* word = Word(section);
    ASSERT_NE(word, nullptr);
    *word = number++;
    UnmapViewOfFile(word);
    sections.push_back(section);
  }
  number = 1;
  for (const auto& name : names) {
    HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(opened, nullptr);
    const auto* seen = static_cast<const DWORD*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(*seen, number++);
    UnmapViewOfFile(seen);
    CloseSharedHandle(opened);
  }
  for (HANDLE section : sections) CloseSharedHandle(section);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
}

TEST_F(SectionTest, UnnamedSectionsAreEachTheirOwn) {
  HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, nullptr);
  HANDLE second = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, u"");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  DWORD* a = Word(first);
  DWORD* b = Word(second);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  *a = 1;
  EXPECT_EQ(*b, 0u);
  EXPECT_EQ(HostObjectsOfThisMachine(), 0);
  UnmapViewOfFile(a);
  UnmapViewOfFile(b);
  CloseSharedHandle(first);
  CloseSharedHandle(second);
}

TEST_F(SectionTest, AMutexNameIsNotASectionName) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"TBMSyncActiveMutex");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4,
                               u"TBMSyncActiveMutex"),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, u"TBMSyncActiveMutex"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseSharedHandle(mutex);
}

}  // namespace
}  // namespace tbm::testing
