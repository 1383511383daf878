// The date and time exports: each reads the database's date or time format
// from the attribute block through the environment's open attribute table,
// then parses or writes with the conversions of DateTime.h.
//
// A call that cannot run (environment null or not initialised, a null text,
// record or output) answers with the code it gives for an uninitialised
// environment and touches nothing. Records of a status or kind the engine
// never makes are written as the empty text with MDbErrFailed, so the
// caller never reads an unwritten buffer as a success.
#include <algorithm>
#include <cstring>

#include "DateTime.h"
#include "Guard.h"
#include "MDb.h"

using namespace tbm::engine;

namespace {

bool Initialised(const MDbEnv* env) { return env != nullptr && env->initialised; }

std::int32_t ReadAttrs(MDbEnv* env, std::uint8_t attrs[MDbAttrBytes]) {
  return MDbAttrTblReadAttrs(env, &env->ref, &env->attributes, 0, attrs);
}

// Copies text and its terminator into out, which holds MDbDateTimeTextChars
// units; the writers never make longer text, the cut is a second guard.
void CopyText(const std::u16string& text, char16_t* out) {
  const std::size_t n = std::min<std::size_t>(text.size(), MDbDateTimeTextChars - 1);
  std::copy_n(text.data(), n, out);
  out[n] = 0;
}

// One digit run of digitsOut: at most kTypedDigitsMax units and a zero.
void CopyDigits(const std::u16string& run, std::uint16_t* slot) {
  const std::size_t n = std::min(run.size(), kTypedDigitsMax);
  std::copy_n(run.data(), n, slot);
  slot[n] = 0;
}

constexpr std::size_t kDigitsSlot = kTypedDigitsMax + 1;

}  // namespace

extern "C" {

std::int32_t MDbRecsetDateStrToDateRec(MDbEnv* env, const char16_t* text, MDbDateRec* rec,
                                       std::uint8_t century1900, std::uint8_t formatOut[6]) {
  if (!Initialised(env) || text == nullptr || rec == nullptr) return MDbErrBadDate;
  std::uint8_t attrs[MDbAttrBytes];
  if (const std::int32_t rc = ReadAttrs(env, attrs); rc != MDbErrNone) return rc;
  const std::uint8_t* block = attrs + kDateFormatOffset;
  if (formatOut != nullptr) std::memcpy(formatOut, block, MDbDateFormatBytes);
  *rec = ParseDate(text, DecodeDateFormat(block), century1900 != 0);
  return rec->status <= MDbDateValidThisYear ? MDbErrNone : MDbErrBadDate;
}

std::int32_t MDbRecsetDRecToDateStr(MDbEnv* env, const MDbDateRec* rec, char16_t* out) {
  if (!Initialised(env) || rec == nullptr || out == nullptr) return MDbErrFailed;
  std::uint8_t attrs[MDbAttrBytes];
  if (const std::int32_t rc = ReadAttrs(env, attrs); rc != MDbErrNone) return rc;
  const std::int32_t written = Guarded([&] {
    const auto text = WriteDate(*rec, DecodeDateFormat(attrs + kDateFormatOffset));
    CopyText(text.value_or(u""), out);
    return text ? MDbErrNone : MDbErrFailed;
  });
  if (written != MDbErrNone) out[0] = 0;
  return written;
}

std::int32_t MDbRecsetTimeStrToTRec(MDbEnv* env, const char16_t* text, MDbTimeRec* rec,
                                    std::uint8_t normalise, std::uint8_t formatOut[48],
                                    std::uint16_t digitsOut[768]) {
  if (!Initialised(env) || text == nullptr || rec == nullptr) return MDbErrBadTime;
  std::uint8_t attrs[MDbAttrBytes];
  if (const std::int32_t rc = ReadAttrs(env, attrs); rc != MDbErrNone) return rc;
  const std::uint8_t* block = attrs + kTimeFormatOffset;
  if (formatOut != nullptr) std::memcpy(formatOut, block, MDbTimeFormatBytes);
  const std::int32_t parsed = Guarded([&] {
    TypedDigits digits;
    *rec = ParseTime(text, DecodeTimeFormat(block), normalise != 0,
                     digitsOut != nullptr ? &digits : nullptr);
    if (digitsOut != nullptr) {
      CopyDigits(digits.hours, digitsOut);
      CopyDigits(digits.minutes, digitsOut + kDigitsSlot);
      CopyDigits(digits.seconds, digitsOut + 2 * kDigitsSlot);
    }
    return MDbErrNone;
  });
  if (parsed != MDbErrNone) return parsed;
  return rec->kind < MDbTimeBlank ? MDbErrNone : MDbErrBadTime;
}

std::int32_t MDbRecsetTRecToTimeStr(MDbEnv* env, const MDbTimeRec* rec, char16_t* out) {
  if (!Initialised(env) || rec == nullptr || out == nullptr) return MDbErrFailed;
  std::uint8_t attrs[MDbAttrBytes];
  if (const std::int32_t rc = ReadAttrs(env, attrs); rc != MDbErrNone) return rc;
  const std::int32_t written = Guarded([&] {
    const auto text = WriteTime(*rec, DecodeTimeFormat(attrs + kTimeFormatOffset));
    CopyText(text.value_or(u""), out);
    return text ? MDbErrNone : MDbErrFailed;
  });
  if (written != MDbErrNone) out[0] = 0;
  return written;
}

}  // extern "C"
