#include "platform/foundation/BinaryPropertyList.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/Utf8.h"

namespace platform {

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;
constexpr std::size_t kObjectCost = 16;

// Object markers: the high nibble is the kind, the low one a size or count.
enum Marker : std::uint8_t {
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kAsciiString = 0x50,
  kUnicodeString = 0x60,
  kArray = 0xA0,
  kDict = 0xD0,
};

std::uint64_t readBigEndian(const unsigned char* p, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

double readDouble(const unsigned char* p, std::size_t size) {
  if (size == 4) {
    auto bits = static_cast<std::uint32_t>(readBigEndian(p, 4));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  std::uint64_t bits = readBigEndian(p, 8);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// UTF-16 (big-endian code units) to UTF-8; false for an unpaired surrogate.
bool utf16ToUtf8(const unsigned char* p, std::size_t units, std::string* out) {
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t c = (std::uint32_t{p[2 * i]} << 8) | p[2 * i + 1];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units) return false;
      std::uint32_t low = (std::uint32_t{p[2 * i + 2]} << 8) | p[2 * i + 3];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view data)
      : data_(reinterpret_cast<const unsigned char*>(data.data())),
        size_(data.size()),
        budget_(data.size() > PropertyListSerialization::kMinUnfoldedSize /
                                  PropertyListSerialization::kMaxUnfoldFactor
                    ? data.size() * PropertyListSerialization::kMaxUnfoldFactor
                    : PropertyListSerialization::kMinUnfoldedSize) {}

  std::optional<Value> read(std::string* error) {
    if (!readTrailer()) return fail(error);
    inProgress_.assign(objectCount_, false);
    std::optional<Value> top = readObject(topObject_, 0);
    if (!top) return fail(error);
    return top;
  }

 private:
  std::optional<Value> fail(std::string* error) {
    if (error) *error = error_.empty() ? "malformed binary property list" : error_;
    return std::nullopt;
  }

  bool bad(const char* reason) {
    if (error_.empty()) error_ = reason;
    return false;
  }

  std::nullopt_t refuse(const char* reason) {
    bad(reason);
    return std::nullopt;
  }

  bool readTrailer() {
    if (size_ < kMagic.size() + kTrailerSize ||
        std::memcmp(data_, kMagic.data(), kMagic.size()) != 0) {
      return bad("not a binary property list");
    }
    const unsigned char* trailer = data_ + size_ - kTrailerSize;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    objectCount_ = readBigEndian(trailer + 8, 8);
    topObject_ = readBigEndian(trailer + 16, 8);
    offsetTable_ = readBigEndian(trailer + 24, 8);
    objectsEnd_ = size_ - kTrailerSize;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
      return bad("bad integer sizes in the trailer");
    }
    if (objectCount_ == 0 || topObject_ >= objectCount_) return bad("bad object count");
    if (offsetTable_ < kMagic.size() || offsetTable_ > objectsEnd_ ||
        objectCount_ > (objectsEnd_ - offsetTable_) / offsetSize_) {
      return bad("offset table outside the data");
    }
    return true;
  }

  // Where object `ref` starts, or 0 when its offset lies outside the object area.
  std::size_t offsetOf(std::uint64_t ref) {
    std::uint64_t offset = readBigEndian(data_ + offsetTable_ + ref * offsetSize_, offsetSize_);
    if (offset < kMagic.size() || offset >= offsetTable_) return 0;
    return static_cast<std::size_t>(offset);
  }

  bool within(std::size_t pos, std::uint64_t length) {
    return pos <= offsetTable_ && length <= offsetTable_ - pos;
  }

  bool spend(std::uint64_t bytes) {
    std::uint64_t cost = kObjectCost + bytes;
    if (cost > budget_ - unfolded_) {
      return bad("property list unfolds too large");
    }
    unfolded_ += cost;
    return true;
  }

  // The count in a marker's low nibble, or the integer object after it when the nibble is 0xF;
  // `pos` moves past the marker and any count object.
  bool readCount(std::uint8_t marker, std::size_t* pos, std::uint64_t* count) {
    *count = marker & 0x0F;
    ++*pos;
    if (*count != 0x0F) return true;
    if (!within(*pos, 1)) return bad("count outside the data");
    std::uint8_t intMarker = data_[*pos];
    if ((intMarker & 0xF0) != kInt || (intMarker & 0x0F) > 3) return bad("bad count");
    std::size_t bytes = std::size_t{1} << (intMarker & 0x0F);
    if (!within(*pos + 1, bytes)) return bad("count outside the data");
    *count = readBigEndian(data_ + *pos + 1, bytes);
    *pos += 1 + bytes;
    return true;
  }

  bool readRef(std::size_t pos, std::uint64_t* ref) {
    *ref = readBigEndian(data_ + pos, refSize_);
    if (*ref >= objectCount_) return bad("object reference out of range");
    return true;
  }

  std::optional<Value> readObject(std::uint64_t ref, int depth) {
    if (depth > PropertyListSerialization::kMaxDepth) {
      return refuse("property list nested too deep");
    }
    if (inProgress_[ref]) {
      return refuse("object reference cycle");
    }
    std::size_t pos = offsetOf(ref);
    if (pos == 0) {
      return refuse("object offset outside the data");
    }
    inProgress_[ref] = true;
    std::optional<Value> value = readAt(pos, depth);
    inProgress_[ref] = false;
    return value;
  }

  std::optional<Value> readAt(std::size_t pos, int depth) {
    std::uint8_t marker = data_[pos];
    std::uint8_t kind = marker & 0xF0;
    std::uint8_t low = marker & 0x0F;
    if (marker == kFalse || marker == kTrue) {
      if (!spend(0)) return std::nullopt;
      return Value(marker == kTrue);
    }
    if (kind == kInt) return readInteger(pos, low);
    if (kind == kReal) {
      if ((low != 2 && low != 3) || !within(pos + 1, std::size_t{1} << low) || !spend(0)) {
        return refuse("bad real");
      }
      return Value(readDouble(data_ + pos + 1, std::size_t{1} << low));
    }
    if (marker == kDate) {
      if (!within(pos + 1, 8) || !spend(0)) {
        return refuse("bad date");
      }
      double seconds = readDouble(data_ + pos + 1, 8);
      return Value(dateFromSeconds(seconds + PropertyListSerialization::kReferenceDateOffset));
    }
    std::uint64_t count = 0;
    if (kind == kData || kind == kAsciiString || kind == kUnicodeString || kind == kArray ||
        kind == kDict) {
      if (!readCount(marker, &pos, &count)) return std::nullopt;
    }
    switch (kind) {
      case kData:
        if (!within(pos, count) || !spend(count)) break;
        return Value(Bytes(data_ + pos, data_ + pos + count));
      case kAsciiString: {
        if (!within(pos, count) || !spend(count)) break;
        std::string text(reinterpret_cast<const char*>(data_ + pos), count);
        for (char c : text) {
          if (static_cast<unsigned char>(c) >= 0x80)
            return refuse("non-ASCII byte in an ASCII string");
        }
        return Value(std::move(text));
      }
      case kUnicodeString: {
        if (count > offsetTable_ / 2 || !within(pos, count * 2) || !spend(count * 3)) break;
        std::string text;
        if (!utf16ToUtf8(data_ + pos, count, &text)) return refuse("unpaired surrogate");
        return Value(std::move(text));
      }
      case kArray:
        return readArray(pos, count, depth);
      case kDict:
        return readDictionary(pos, count, depth);
      default:
        return refuse("unsupported object kind");
    }
    return refuse("object outside the data");
  }

  std::optional<Value> readInteger(std::size_t pos, std::uint8_t sizeCode) {
    if (sizeCode > 4) return refuse("bad integer");
    std::size_t bytes = std::size_t{1} << sizeCode;
    if (!within(pos + 1, bytes) || !spend(0)) return refuse("integer outside the data");
    const unsigned char* p = data_ + pos + 1;
    if (bytes == 16) {
      // 128-bit integers are read when they fit 64 bits signed; a larger one (an unsigned 64-bit
      // number above the signed range is written this way) is the nearest double, so that one
      // number does not cost the whole list.
      std::uint64_t high = readBigEndian(p, 8);
      std::uint64_t low = readBigEndian(p + 8, 8);
      auto lowBits = static_cast<std::int64_t>(low);
      bool fits = (high == 0 && lowBits >= 0) || (high == ~std::uint64_t{0} && lowBits < 0);
      if (!fits) {
        constexpr double kTwoTo64 = 18446744073709551616.0;
        return Value(static_cast<double>(static_cast<std::int64_t>(high)) * kTwoTo64 +
                     static_cast<double>(low));
      }
      return Value(lowBits);
    }
    std::uint64_t raw = readBigEndian(p, bytes);
    // 1, 2 and 4 bytes are unsigned; 8 bytes are signed.
    return Value(static_cast<std::int64_t>(raw));
  }

  std::optional<Value> readArray(std::size_t pos, std::uint64_t count, int depth) {
    if (count > offsetTable_ / refSize_ || !within(pos, count * refSize_) || !spend(0)) {
      return refuse("array outside the data");
    }
    Array items;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t ref = 0;
      if (!readRef(pos + i * refSize_, &ref)) return std::nullopt;
      std::optional<Value> item = readObject(ref, depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
    }
    return Value(std::move(items));
  }

  std::optional<Value> readDictionary(std::size_t pos, std::uint64_t count, int depth) {
    if (count > offsetTable_ / (2 * refSize_) || !within(pos, count * 2 * refSize_) || !spend(0)) {
      return refuse("dictionary outside the data");
    }
    Dictionary entries;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t keyRef = 0;
      std::uint64_t valueRef = 0;
      if (!readRef(pos + i * refSize_, &keyRef) ||
          !readRef(pos + (count + i) * refSize_, &valueRef)) {
        return std::nullopt;
      }
      std::optional<Value> key = readObject(keyRef, depth + 1);
      if (!key) return std::nullopt;
      if (!key->asText()) return refuse("dictionary key that is not text");
      std::optional<Value> value = readObject(valueRef, depth + 1);
      if (!value) return std::nullopt;
      entries.insert_or_assign(*key->asText(), std::move(*value));
    }
    return Value(std::move(entries));
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t offsetSize_ = 0;
  std::size_t refSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t topObject_ = 0;
  std::size_t offsetTable_ = 0;
  std::size_t objectsEnd_ = 0;
  std::vector<bool> inProgress_;
  const std::size_t budget_;
  std::size_t unfolded_ = 0;
  std::string error_;
};

// Writes every object once, in the order met (the top object first), then the offset table
// and the trailer.
class Writer {
 public:
  std::optional<std::string> write(const Value& top, std::string* error) {
    std::size_t count = 0;
    if (!countObjects(top, 0, &count, error)) return std::nullopt;
    refSize_ = bytesFor(count);
    out_ = std::string(kMagic);
    std::size_t next = 0;
    writeObject(top, &next);

    std::size_t tableOffset = out_.size();
    std::size_t offsetSize = bytesFor(tableOffset);
    for (std::size_t offset : offsets_) appendBigEndian(offset, offsetSize);
    out_.append(6, '\0');
    out_ += static_cast<char>(offsetSize);
    out_ += static_cast<char>(refSize_);
    appendBigEndian(offsets_.size(), 8);
    appendBigEndian(0, 8);
    appendBigEndian(tableOffset, 8);
    return std::move(out_);
  }

 private:
  static std::size_t bytesFor(std::uint64_t n) {
    if (n <= 0xFF) return 1;
    if (n <= 0xFFFF) return 2;
    if (n <= 0xFFFFFFFFu) return 4;
    return 8;
  }

  static bool fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
  }

  // Counts the objects (a dictionary's keys are objects too) and checks every value.
  static bool countObjects(const Value& value, int depth, std::size_t* count, std::string* error) {
    if (depth > PropertyListSerialization::kMaxDepth) return fail(error, "nested too deep");
    ++*count;
    switch (value.kind()) {
      case Value::Kind::Null:
        return fail(error, "property lists cannot contain null");
      case Value::Kind::Object:
        return fail(error, "property lists cannot contain objects");
      case Value::Kind::Text:
        if (!isValidUtf8(*value.asText())) return fail(error, "text that is not UTF-8");
        return true;
      case Value::Kind::Array:
        for (const auto& item : *value.asArray()) {
          if (!countObjects(item, depth + 1, count, error)) return false;
        }
        return true;
      case Value::Kind::Dictionary:
        for (const auto& [key, item] : *value.asDictionary()) {
          if (!isValidUtf8(key)) return fail(error, "key that is not UTF-8");
          ++*count;
          if (!countObjects(item, depth + 1, count, error)) return false;
        }
        return true;
      default:
        return true;
    }
  }

  void appendBigEndian(std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) out_ += static_cast<char>((value >> (8 * i)) & 0xFF);
  }

  void appendMarker(std::uint8_t kind, std::uint64_t count) {
    if (count < 0x0F) {
      out_ += static_cast<char>(kind | count);
      return;
    }
    out_ += static_cast<char>(kind | 0x0F);
    appendInteger(static_cast<std::int64_t>(count));
  }

  void appendInteger(std::int64_t v) {
    if (v < 0 || v > 0xFFFFFFFFll) {
      out_ += static_cast<char>(kInt | 3);
      appendBigEndian(static_cast<std::uint64_t>(v), 8);
    } else {
      std::size_t size = bytesFor(static_cast<std::uint64_t>(v));
      out_ += static_cast<char>(kInt | (size == 1 ? 0 : size == 2 ? 1 : 2));
      appendBigEndian(static_cast<std::uint64_t>(v), size);
    }
  }

  void appendDouble(std::uint8_t marker, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    out_ += static_cast<char>(marker);
    appendBigEndian(bits, 8);
  }

  void appendText(const std::string& text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
      appendMarker(kAsciiString, text.size());
      out_ += text;
      return;
    }
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
      auto c = static_cast<unsigned char>(text[i]);
      std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      std::uint32_t code = length == 1 ? c : c & (0xFF >> (length + 1));
      for (std::size_t k = 1; k < length; ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      }
      i += length;
      if (code >= 0x10000) {
        code -= 0x10000;
        units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
        units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
      } else {
        units.push_back(static_cast<std::uint16_t>(code));
      }
    }
    appendMarker(kUnicodeString, units.size());
    for (std::uint16_t unit : units) appendBigEndian(unit, 2);
  }

  // Writes `value` as object number *next, then its children; containers leave room for their
  // references and fill them in once the children have numbers.
  void writeObject(const Value& value, std::size_t* next) {
    std::size_t number = (*next)++;
    if (offsets_.size() <= number) offsets_.resize(number + 1);
    offsets_[number] = out_.size();
    switch (value.kind()) {
      case Value::Kind::Bool:
        out_ += static_cast<char>(*value.asBool() ? kTrue : kFalse);
        return;
      case Value::Kind::Integer:
        appendInteger(*value.asInteger());
        return;
      case Value::Kind::Double:
        appendDouble(kReal | 3, *value.asDouble());
        return;
      case Value::Kind::Date:
        appendDouble(kDate,
                     toSeconds(*value.asDate()) - PropertyListSerialization::kReferenceDateOffset);
        return;
      case Value::Kind::Bytes: {
        const Bytes& bytes = *value.asBytes();
        appendMarker(kData, bytes.size());
        out_.append(bytes.begin(), bytes.end());
        return;
      }
      case Value::Kind::Text:
        appendText(*value.asText());
        return;
      case Value::Kind::Array: {
        const Array& items = *value.asArray();
        appendMarker(kArray, items.size());
        std::size_t refs = out_.size();
        out_.append(items.size() * refSize_, '\0');
        for (std::size_t i = 0; i < items.size(); ++i) {
          setRef(refs + i * refSize_, *next);
          writeObject(items[i], next);
        }
        return;
      }
      case Value::Kind::Dictionary: {
        const Dictionary& entries = *value.asDictionary();
        appendMarker(kDict, entries.size());
        std::size_t refs = out_.size();
        out_.append(entries.size() * 2 * refSize_, '\0');
        std::size_t i = 0;
        for (const auto& [key, item] : entries) {
          setRef(refs + i * refSize_, *next);
          writeObject(Value(key), next);
          setRef(refs + (entries.size() + i) * refSize_, *next);
          writeObject(item, next);
          ++i;
        }
        return;
      }
      default:
        return;  // refused by countObjects
    }
  }

  void setRef(std::size_t at, std::size_t ref) {
    for (std::size_t i = 0; i < refSize_; ++i) {
      out_[at + i] = static_cast<char>((ref >> (8 * (refSize_ - 1 - i))) & 0xFF);
    }
  }

  std::string out_;
  std::size_t refSize_ = 1;
  std::vector<std::size_t> offsets_;
};

}  // namespace

std::optional<Value> BinaryPropertyList::read(std::string_view data, std::string* error) {
  return Reader(data).read(error);
}

std::optional<std::string> BinaryPropertyList::write(const Value& value, std::string* error) {
  return Writer().write(value, error);
}

}  // namespace platform
