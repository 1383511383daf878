// Frames of DDE conversations: the one writer and the one reader.
#include "WireFormat.h"

#include "LittleEndian.h"

namespace tbm::dde {

namespace {

enum Kind : std::uint8_t {
  kHello = 1,
  kWelcome = 2,
  kTransaction = 3,
  kResult = 4,
  kGoodbye = 5,
  kNotice = 6,
};

class Writer {
 public:
  // Room for the length in front, filled in by Finish.
  Writer() {
    bytes_.reserve(64);
    bytes_.resize(kFrameLengthBytes);
  }

  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void U32(std::uint32_t value) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + 4);
    StoreU32(bytes_.data() + at, value);
  }
  void Bytes(std::span<const std::uint8_t> data) {
    U32(static_cast<std::uint32_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void Name(const std::string& name) {
    Bytes({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
  }
  // The frame: the body's length in front of the body.
  std::vector<std::uint8_t> Finish() {
    StoreU32(bytes_.data(), static_cast<std::uint32_t>(bytes_.size() - kFrameLengthBytes));
    return std::move(bytes_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads fields off the front of a body; any read past the end fails this
// read and every later one.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> body) : rest_(body) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && rest_.empty(); }

  std::uint8_t U8() {
    if (!Have(1)) return 0;
    const std::uint8_t value = rest_[0];
    rest_ = rest_.subspan(1);
    return value;
  }
  std::uint32_t U32() {
    if (!Have(4)) return 0;
    const std::uint32_t value = LoadU32(rest_.data());
    rest_ = rest_.subspan(4);
    return value;
  }
  bool Flag() {
    const std::uint8_t value = U8();
    if (value > 1) ok_ = false;
    return value == 1;
  }
  std::vector<std::uint8_t> Bytes(std::size_t limit) {
    const std::uint32_t length = U32();
    if (length > limit || !Have(length)) {
      ok_ = false;
      return {};
    }
    std::vector<std::uint8_t> value(rest_.begin(), rest_.begin() + length);
    rest_ = rest_.subspan(length);
    return value;
  }
  std::string Name() {
    const auto bytes = Bytes(kMaxNameBytes);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  bool Have(std::size_t count) {
    if (ok_ && rest_.size() >= count) return true;
    ok_ = false;
    return false;
  }

  std::span<const std::uint8_t> rest_;
  bool ok_ = true;
};

struct Encode {
  Writer& out;
  void operator()(const Hello& hello) {
    out.U8(kHello);
    out.U32(kHelloMagic);
    out.U32(kProtocolVersion);
    out.U32(hello.instance);
    out.Name(hello.service);
    out.Name(hello.topic);
  }
  void operator()(const Welcome& welcome) {
    out.U8(kWelcome);
    out.U8(welcome.accepted ? 1 : 0);
  }
  void operator()(const Transaction& transaction) {
    out.U8(kTransaction);
    out.U32(transaction.id);
    out.U32(transaction.type);
    out.U32(transaction.format);
    out.Name(transaction.item);
    out.Bytes(transaction.data);
  }
  void operator()(const Result& result) {
    out.U8(kResult);
    out.U32(result.id);
    out.U32(result.flags);
    out.U8(result.hasData ? 1 : 0);
    out.Bytes(result.data);
  }
  void operator()(const Goodbye&) { out.U8(kGoodbye); }
  void operator()(const Notice& notice) {
    out.U8(kNotice);
    out.U8(notice.registered ? 1 : 0);
    out.Name(notice.service);
    out.Name(notice.instanceName);
  }
};

std::optional<Message> Decode(Reader& in) {
  switch (in.U8()) {
    case kHello: {
      Hello hello;
      const bool ours = in.U32() == kHelloMagic && in.U32() == kProtocolVersion;
      hello.instance = in.U32();
      hello.service = in.Name();
      hello.topic = in.Name();
      if (!ours) return std::nullopt;
      return hello;
    }
    case kWelcome:
      return Welcome{in.Flag()};
    case kTransaction: {
      Transaction transaction;
      transaction.id = in.U32();
      transaction.type = in.U32();
      transaction.format = in.U32();
      transaction.item = in.Name();
      transaction.data = in.Bytes(kMaxBlockBytes);
      return transaction;
    }
    case kResult: {
      Result result;
      result.id = in.U32();
      result.flags = in.U32();
      result.hasData = in.Flag();
      result.data = in.Bytes(kMaxBlockBytes);
      return result;
    }
    case kGoodbye:
      return Goodbye{};
    case kNotice: {
      Notice notice;
      notice.registered = in.Flag();
      notice.service = in.Name();
      notice.instanceName = in.Name();
      return notice;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(const Message& message) {
  Writer out;
  std::visit(Encode{out}, message);
  return out.Finish();
}

std::optional<Message> DecodeFrame(std::span<const std::uint8_t> body) {
  if (body.size() > kMaxFrameBytes) return std::nullopt;
  Reader in(body);
  std::optional<Message> message = Decode(in);
  if (!message || !in.AtEnd()) return std::nullopt;
  return message;
}

}  // namespace tbm::dde
