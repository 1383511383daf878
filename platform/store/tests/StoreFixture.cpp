#include "StoreFixture.h"

#include <cstdlib>

#include "Utf16.h"

namespace tbm::store::testing {

void StoreTest::SetUp() {
  ASSERT_TRUE(scratch_.ok());
  folder_ = scratch_.path();
  ::setenv("TBM_DEVICE_ROOT", (folder_ / "device").c_str(), 1);
}

void StoreTest::TearDown() {
  for (auto& g : mounted_) CeUnmountDBVol(&g);
}

std::string StoreTest::HostPath(const std::string& name) const { return (folder_ / name).string(); }

std::u16string StoreTest::WidePath(const std::string& name) const {
  return Utf8ToUtf16(HostPath(name));
}

CEGUID StoreTest::MountNew(const std::string& name) {
  CEGUID g{};
  const auto path = WidePath(name);
  EXPECT_TRUE(CeMountDBVol(&g, path.c_str(), CREATE_NEW)) << StoreLastMessage();
  mounted_.push_back(g);
  return g;
}

CEOID StoreTest::CreateDb(CEGUID& vol, const std::u16string& name, DWORD type,
                          std::vector<SORTORDERSPEC> sorts) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, name);
  info.dwDbaseType = type;
  info.wNumSortOrder = static_cast<WORD>(sorts.size());
  for (std::size_t i = 0; i < sorts.size(); ++i) info.rgSortSpecs[i] = sorts[i];
  const CEOID oid = CeCreateDatabaseEx(&vol, &info);
  EXPECT_NE(oid, 0u) << StoreLastMessage();
  return oid;
}

HANDLE StoreTest::Open(CEGUID& vol, CEOID oid, CEPROPID sortProperty, DWORD flags) {
  HANDLE h = CeOpenDatabaseEx(&vol, &oid, nullptr, sortProperty, flags, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << StoreLastMessage();
  return h;
}

CEOID StoreTest::Write(HANDLE db, CEOID oid, const Record& values) {
  std::vector<CEPROPVAL> props;
  std::vector<std::u16string> texts;
  texts.reserve(values.size());
  for (const auto& [id, value] : values) {
    CEPROPVAL v{};
    v.propid = id;
    std::visit(
        [&](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::uint16_t>) v.val.uiVal = x;
          if constexpr (std::is_same_v<T, std::int32_t>) v.val.lVal = x;
          if constexpr (std::is_same_v<T, std::uint32_t>) v.val.ulVal = x;
          if constexpr (std::is_same_v<T, bool>) v.val.boolVal = x ? TRUE : FALSE;
          if constexpr (std::is_same_v<T, std::u16string>) {
            texts.push_back(x);
            v.val.lpwstr = texts.back().data();
          }
          if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
            v.val.blob.dwCount = static_cast<DWORD>(x.size());
            v.val.blob.lpb = const_cast<BYTE*>(x.data());
          }
        },
        value);
    props.push_back(v);
  }
  return CeWriteRecordProps(db, oid, static_cast<WORD>(props.size()), props.data());
}

std::optional<Record> StoreTest::ReadCurrent(HANDLE db, CEOID* oid) {
  BYTE* buffer = nullptr;
  DWORD size = 0;
  WORD count = 0;
  const CEOID read =
      CeReadRecordPropsEx(db, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &size, nullptr);
  if (read == 0) {
    std::free(buffer);
    return std::nullopt;
  }
  if (oid) *oid = read;
  Record out;
  const auto* vals = reinterpret_cast<const CEPROPVAL*>(buffer);
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = vals[i];
    switch (TypeFromPropId(v.propid)) {
      case CEVT_UI2:
        out[v.propid] = std::uint16_t{v.val.uiVal};
        break;
      case CEVT_I4:
        out[v.propid] = std::int32_t{v.val.lVal};
        break;
      case CEVT_UI4:
        out[v.propid] = std::uint32_t{v.val.ulVal};
        break;
      case CEVT_BOOL:
        out[v.propid] = v.val.boolVal != 0;
        break;
      case CEVT_LPWSTR:
        out[v.propid] = std::u16string(v.val.lpwstr);
        break;
      case CEVT_BLOB:
        out[v.propid] =
            std::vector<std::uint8_t>(v.val.blob.lpb, v.val.blob.lpb + v.val.blob.dwCount);
        break;
    }
  }
  std::free(buffer);
  return out;
}

std::u16string StoreTest::Text(HANDLE db, CEPROPID id) {
  auto record = ReadCurrent(db);
  if (!record || !record->count(id)) return u"<missing>";
  return std::get<std::u16string>(record->at(id));
}

std::vector<CEOID> StoreTest::WalkByPosition(HANDLE db) {
  std::vector<CEOID> out;
  for (DWORD i = 0;; ++i) {
    DWORD index = 0xFFFF;
    const CEOID oid = CeSeekDatabase(db, CEDB_SEEK_BEGINNING, i, &index);
    if (oid == 0) break;
    EXPECT_EQ(index, i);
    out.push_back(oid);
  }
  return out;
}

}  // namespace tbm::store::testing
