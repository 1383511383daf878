#include "CopyImport.h"

#include <vector>

#include "DatabaseBuilder.h"
#include "DatabaseNames.h"
#include "DesktopConversation.h"
#include "ExchangeFile.h"
#include "FileCalls.h"
#include "Utf16.h"

namespace tbm::sync {

namespace {

// The longest text a field can hold is 2048 characters; in a double-byte
// code page that is at most twice as many bytes.
constexpr ExchangeReadLimits kCopyLimits{4096, 32767};

// A separator travels as an ANSI character in the low byte.
char16_t SeparatorFrom(std::uint16_t stored, AnsiCodePage& codePage) {
  const auto byte = static_cast<unsigned char>(stored & 0xFF);
  if (byte < 0x80) return byte;
  std::u16string text;
  if (codePage.ToUtf16(std::string(1, static_cast<char>(byte)), &text).ok() && text.size() == 1) {
    return text[0];
  }
  return byte;
}

Status FormatsFrom(const ExchangeHeader& header, AnsiCodePage& codePage, DatabaseFormats* formats) {
  std::u16string morning;
  std::u16string afternoon;
  std::u16string twentyFour;
  Status status = codePage.ToUtf16(header.morningSuffix, &morning);
  if (status.ok()) status = codePage.ToUtf16(header.afternoonSuffix, &afternoon);
  if (status.ok()) status = codePage.ToUtf16(header.twentyFourSuffix, &twentyFour);
  if (!status.ok()) return status.WithContext("the time suffixes");
  formats->date =
      MakeDateFormat(SeparatorFrom(header.dateSeparator, codePage), header.dateOrder,
                     header.twoDigitMonth, header.twoDigitDay, header.preferTypedSeparator);
  formats->time = MakeTimeFormat(SeparatorFrom(header.timeSeparator, codePage), morning, afternoon,
                                 twentyFour, header.leadingZero, header.twelveHourClock);
  return {};
}

Status EngineFailure(std::int32_t code, const std::string& what) {
  if (code == MDbErrTooManyRecords) {
    return {StatusCode::kBadCount,
            what + ": the handheld database already holds the most records it can (5000)"};
  }
  return {StatusCode::kCorrupt, what + ": the handheld database could not be written"};
}

class Import {
 public:
  Import(DatabaseStore& store, ImportMode mode, ByteSource& source, ByteSink& echo,
         AnsiCodePage& codePage, const std::function<void()>& marked)
      : store_(store),
        mode_(mode),
        reader_(source, kCopyLimits),
        echo_(echo),
        page_(codePage),
        marked_(marked) {}

  ImportResult Run() {
    result_.status = Steps();
    // A creation that failed before the name was echoed still echoes it:
    // the desktop reads the echo, then the word that says the database was
    // not made, and reports that rather than a conversation out of step.
    if (!result_.status.ok() && mode_ == ImportMode::kCreate && !echoed_ && !result_.streamFailed) {
      EchoName(layoutName_);
    }
    return result_;
  }

 private:
  // A failure of the reader is the stream's when the data simply ended.
  Status FromReader(Status status) {
    if (status.code() == StatusCode::kTruncated) result_.streamFailed = true;
    return status;
  }

  Status Steps() {
    ExchangeLayout layout;
    if (Status s = FromReader(reader_.ReadLayout(&layout)); !s.ok()) return s;
    layoutName_ = layout.header.name;
    std::u16string name;
    if (Status s = page_.ToUtf16(layout.header.name, &name); !s.ok()) {
      return s.WithContext("the database name");
    }
    if (Status s = OpenTarget(name); !s.ok()) return s;
    MDbEnv* env = store_.env();
    result_.touched = true;
    if (std::int32_t rc = MarkConsistent(env, false); rc != MDbErrNone) {
      return EngineFailure(rc, "marking the database as being rebuilt");
    }
    if (marked_) marked_();

    std::vector<FieldSpec> fields;
    for (std::size_t f = 0; f < layout.fields.size(); ++f) {
      const FieldDescriptor& d = layout.fields[f];
      FieldSpec spec;
      spec.type = static_cast<std::uint8_t>(d.type);
      if (Status s = page_.ToUtf16(d.name, &spec.name); !s.ok()) {
        return s.WithContext("the name of field " + std::to_string(f + 1));
      }
      spec.key = FieldKey(d.key);
      spec.optionWord1 = static_cast<std::uint16_t>(d.optionWord1);
      spec.optionWord2 = static_cast<std::uint16_t>(d.optionWord2);
      spec.valueList = d.valueListIndex;
      fields.push_back(std::move(spec));
    }
    bool unchanged = false;
    const bool rebuild = mode_ == ImportMode::kRebuild;
    if (std::int32_t rc = ReplaceSchema(env, fields, rebuild, &unchanged); rc != MDbErrNone) {
      return EngineFailure(rc, "writing the fields");
    }
    if (!rebuild || !unchanged) {
      DatabaseFormats formats;
      if (Status s = FormatsFrom(layout.header, page_, &formats); !s.ok()) return s;
      if (std::int32_t rc = ReplaceAttributes(env, NewAttributeBlock(formats), name);
          rc != MDbErrNone) {
        return EngineFailure(rc, "writing the database attributes");
      }
    }
    if (Status s = EchoName(layout.header.name); !s.ok()) return s;

    if (layout.valueListCount > 0) {
      std::vector<std::string> texts;
      if (Status s = FromReader(reader_.ReadValueLists(&texts)); !s.ok()) return s;
      std::vector<std::u16string> lists(texts.size());
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (Status s = page_.FromExchangeText(texts[i], &lists[i]); !s.ok()) {
          return s.WithContext("value list " + std::to_string(i + 1));
        }
      }
      if (std::int32_t rc = ReplaceValueLists(env, lists); rc != MDbErrNone) {
        return EngineFailure(rc, "writing the value lists");
      }
    }
    if (rebuild) {
      if (std::int32_t rc = EmptyRecords(env); rc != MDbErrNone) {
        return EngineFailure(rc, "removing the handheld's records");
      }
    }
    return LoadRecords(layout.fields.size());
  }

  // Creating: the database is made where its name maps to, never over a
  // file already there. Rebuilding: the store holds it open already.
  Status OpenTarget(const std::u16string& name) {
    if (mode_ == ImportMode::kRebuild) {
      if (!store_.opened()) return {StatusCode::kInvalidArgument, "no database is open"};
      return {};
    }
    const std::optional<std::u16string> path = DatabasePathForName(name);
    if (!path) {
      return {StatusCode::kInvalidArgument, "the database name cannot be a handheld file name"};
    }
    MDbCreateDirectory(kDatabaseFolder);  // present already, mostly
    if (store_.Create(*path) != MDbErrNone) {
      // The database open in the handheld program is left out of the list
      // the desktop gets, so the desktop offers it as new.
      if (GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES) {
        return {StatusCode::kWriteFailed,
                "the handheld database is not made: " + Utf16ToUtf8(*path) +
                    " is there already (open in the handheld program, which kept it out of this "
                    "synchronisation, or not readable)"};
      }
      return {StatusCode::kWriteFailed, "the handheld database cannot be created"};
    }
    return {};
  }

  Status EchoName(const std::string& name) {
    echoed_ = true;
    if (const Status s = WriteCopyNameEcho(echo_, name); !s.ok()) {
      result_.streamFailed = true;
      return {StatusCode::kWriteFailed, s.message()};
    }
    return {};
  }

  Status LoadRecords(std::size_t fieldCount) {
    RecordLoader loader(store_.env());
    if (std::int32_t rc = loader.Start(); rc != MDbErrNone) {
      return EngineFailure(rc, "opening the records");
    }
    ExchangeRecord record;
    std::vector<std::u16string> values(fieldCount);
    std::vector<const char16_t*> pointers(fieldCount);
    for (std::int32_t number = 1; reader_.recordsLeft() > 0; ++number) {
      const std::string where = "record " + std::to_string(number);
      if (Status s = FromReader(reader_.ReadRecord(&record)); !s.ok()) return s;
      const std::int16_t code = record.header.changeCode;
      if (code == kChangeUnchanged) {
        ++result_.skipped;
        continue;
      }
      if (code != kChangeNew) {
        return {StatusCode::kCorrupt,
                where + ": the change code " + std::to_string(code) + " is not one a copy holds"};
      }
      for (std::size_t f = 0; f < fieldCount; ++f) {
        values[f].clear();
        if (!record.header.noValues) {
          if (Status s = page_.FromExchangeText(record.values[f], &values[f]); !s.ok()) {
            return s.WithContext(where + ", field " + std::to_string(f + 1));
          }
        }
        pointers[f] = values[f].c_str();
      }
      if (const int f = loader.FirstTooLong(pointers); f >= 0) {
        return {StatusCode::kBadLength,
                where + ", field " + std::to_string(f + 1) + ": the text is longer than the " +
                    std::to_string(loader.CopyMaxChars()) + " characters a copy may hold"};
      }
      if (std::int32_t rc = loader.Add(record.header.identity.data(), pointers); rc != MDbErrNone) {
        return EngineFailure(rc, where);
      }
    }
    if (std::int32_t rc = loader.Finish(); rc != MDbErrNone) {
      return EngineFailure(rc, "closing the records");
    }
    return {};
  }

  DatabaseStore& store_;
  ImportMode mode_;
  ExchangeReader reader_;
  ByteSink& echo_;
  AnsiCodePage& page_;
  const std::function<void()>& marked_;
  ImportResult result_;
  std::string layoutName_;
  bool echoed_ = false;
};

}  // namespace

ImportResult ImportDesktopCopy(DatabaseStore& store, ImportMode mode, ByteSource& source,
                               ByteSink& echo, AnsiCodePage& codePage,
                               const std::function<void()>& marked) {
  return Import(store, mode, source, echo, codePage, marked).Run();
}

}  // namespace tbm::sync
