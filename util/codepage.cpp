#include "util/codepage.h"

#include <iconv.h>

#include <cerrno>

#include "util/error.h"
#include "util/text.h"

namespace igxl::util {

namespace {

struct Alias {
    const char* user;
    const char* iconv;
};
// Windows code pages by the names the VBA editor's users know them.
constexpr Alias kAliases[] = {
    {"cp936", "CP936"},   {"gbk", "CP936"},    {"gb2312", "CP936"},  {"cp932", "CP932"},
    {"shift_jis", "CP932"}, {"sjis", "CP932"}, {"cp949", "CP949"},   {"uhc", "CP949"},
    {"cp950", "CP950"},   {"big5", "CP950"},   {"cp1250", "CP1250"}, {"cp1251", "CP1251"},
    {"cp1252", "CP1252"}, {"cp1253", "CP1253"}, {"cp1254", "CP1254"}, {"windows-1250", "CP1250"},
    {"windows-1251", "CP1251"}, {"windows-1252", "CP1252"}, {"windows-1253", "CP1253"},
    {"windows-1254", "CP1254"}, {"latin1", "ISO-8859-1"}, {"iso-8859-1", "ISO-8859-1"},
    {"utf-8", "UTF-8"},   {"utf8", "UTF-8"},
};

class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw Error("the code page conversion " + from + " -> " + to + " is not available");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    std::optional<std::string> run(std::string_view in) {
        std::string out(in.size() * 2 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        size_t src_left = in.size();
        size_t done = 0;
        for (;;) {
            char* dst = out.data() + done;
            size_t dst_left = out.size() - done;
            size_t r = iconv(cd_, src_left ? &src : nullptr, &src_left, &dst, &dst_left);
            done = out.size() - dst_left;
            if (r != static_cast<size_t>(-1)) {
                if (src_left == 0) break;
                continue;
            }
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            return std::nullopt;  // EILSEQ or EINVAL: a sequence that does not convert
        }
        out.resize(done);
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> code_page_name(std::string_view user_name) {
    const std::string lower = to_lower(strip(user_name));
    for (const Alias& a : kAliases)
        if (lower == a.user) return std::string(a.iconv);
    return std::nullopt;
}

std::optional<std::string> windows_code_page(unsigned number) {
    std::string name;
    switch (number) {
        case 65001: name = "UTF-8"; break;
        case 28591: name = "ISO-8859-1"; break;
        case 10000: name = "MACINTOSH"; break;
        default: name = "CP" + std::to_string(number);
    }
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    iconv_close(cd);
    return name;
}

const std::vector<std::string>& accepted_code_pages() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const Alias& a : kAliases) v.emplace_back(a.user);
        return v;
    }();
    return names;
}

std::optional<std::string> decode_code_page(std::string_view bytes, const std::string& code_page) {
    Converter c("UTF-8", code_page);
    return c.run(bytes);
}

std::optional<std::string> encode_code_page(std::string_view utf8, const std::string& code_page) {
    Converter c(code_page, "UTF-8");
    return c.run(utf8);
}

}  // namespace igxl::util
