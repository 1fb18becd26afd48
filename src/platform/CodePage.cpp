#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace tandor {

namespace {

// Owns one iconv conversion descriptor.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : mHandle(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(mHandle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return mHandle != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; an input sequence that cannot be converted is replaced by `replacement`
  // and skipped (one byte at a time, or one UTF-8 character when `from` is UTF-8).
  std::string Convert(std::string_view in, std::string_view replacement, bool fromUtf8) {
    std::string out;
    out.reserve(in.size() * 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buffer[4096];
    while (left > 0) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      size_t rc = iconv(mHandle, &src, &left, &dst, &room);
      out.append(buffer, dst - buffer);
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip one character of input and put the replacement in its place.
      out.append(replacement);
      size_t skip = 1;
      if (fromUtf8) {
        unsigned char lead = static_cast<unsigned char>(*src);
        skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (skip > left) skip = left;
        for (size_t i = 1; i < skip; ++i) {
          if ((static_cast<unsigned char>(src[i]) & 0xC0) != 0x80) {
            skip = i;
            break;
          }
        }
      }
      src += skip;
      left -= skip;
      iconv(mHandle, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    size_t room = sizeof buffer;
    iconv(mHandle, nullptr, nullptr, &dst, &room);
    out.append(buffer, dst - buffer);
    return out;
  }

 private:
  iconv_t mHandle;
};

bool IsDoubleByte(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
         codePage == 1361;
}

std::size_t Utf8CutPoint(std::string_view bytes, std::size_t limit) {
  if (bytes.size() <= limit) return bytes.size();
  std::size_t cut = limit;
  // Step back over continuation bytes to the start of the character that does not fit.
  while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::string IconvName(int codePage) {
  switch (codePage) {
    case CodePage::Utf8:
      return "UTF-8";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    default:
      return "CP" + std::to_string(codePage);
  }
}

bool CodePage::IsLeadByte(unsigned char byte) const {
  return IsDoubleByte(mNumber) && byte >= 0x81 && byte <= 0xFE;
}

std::string CodePage::ToUtf8(std::string_view bytes) const {
  bool ascii = true;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(bytes);
  if (IsUtf8()) {
    Converter utf8("UTF-8", "UTF-8");
    return utf8.Convert(bytes, "\xEF\xBF\xBD", true);
  }
  Converter converter("UTF-8", IconvName(mNumber));
  if (!converter.Valid()) return std::string(bytes);
  return converter.Convert(bytes, "\xEF\xBF\xBD", false);
}

std::string CodePage::FromUtf8(std::string_view text) const {
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii || IsUtf8()) return std::string(text);
  Converter converter(IconvName(mNumber), "UTF-8");
  if (!converter.Valid()) return std::string(text);
  return converter.Convert(text, "?", true);
}

std::size_t CodePage::CutPoint(std::string_view bytes, std::size_t limit) const {
  if (bytes.size() <= limit) return bytes.size();
  if (IsUtf8()) return Utf8CutPoint(bytes, limit);
  if (!IsDoubleByte(mNumber)) return limit;
  // Walk characters from the start: a lead byte takes its trail byte with it.
  std::size_t pos = 0;
  while (pos < limit) {
    std::size_t width = IsLeadByte(static_cast<unsigned char>(bytes[pos])) ? 2 : 1;
    if (pos + width > limit) break;
    pos += width;
  }
  return pos;
}

}  // namespace tandor
