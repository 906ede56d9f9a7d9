// The XML tokenizer must give the same events however its input is cut into reads: the
// 16-byte scans and one-letter tag shortcuts look past the current byte, so every chunk
// boundary inside a tag, a name, an entity or CDATA is a place where they could go wrong.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "export/xml_scan.h"

namespace {

using igxl::detail::ByteSource;
using igxl::detail::XmlAttrs;
using igxl::detail::XmlScanner;
using igxl::detail::XmlText;

// Hands out the text step bytes per read.
class Dribble : public ByteSource {
public:
    Dribble(std::string s, size_t step) : s_(std::move(s)), step_(step) {}
    size_t read(char* buf, size_t n) override {
        n = std::min({n, step_, s_.size() - at_});
        s_.copy(buf, n, at_);
        at_ += n;
        return n;
    }

private:
    std::string s_;
    size_t step_, at_ = 0;
};

struct Log {
    std::string out;
    bool capturing() const { return true; }
    void on_text(std::string_view s, XmlText k) {
        out += k == XmlText::CData ? "[C:" : "[T:";
        if (k == XmlText::Plain) out += s;
        else if (k == XmlText::Escaped) igxl::detail::append_xml_text(out, s);
        else igxl::detail::append_xml_cdata(out, s);
        out += ']';
    }
    void on_start(std::string_view name, XmlAttrs a) {
        out += "<" + std::string(name);
        for (const auto& at : a) out += " " + std::string(at.name) + "=" + igxl::detail::decode_xml_text(at.value);
        out += ">";
    }
    void on_end(std::string_view name) { out += "</" + std::string(name) + ">"; }
};

std::string scan(const std::string& xml, size_t step) {
    Dribble src(xml, step);
    XmlScanner sc(src, "test");
    Log h;
    sc.run(h);
    return h.out;
}

TEST(XmlScan, SameEventsForEveryChunkSize) {
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<!-- a > b --><x:ws xmlns:x=\"u\"><row r=\"1\" spans=\"1:3\">"
        "<c r=\"A1\" t=\"s\"><v>12</v></c><c r='B1'><is><t>a &amp; b&#xD;c\r\nd</t></is></c>"
        "<c r=\"C1\"/><c\tr = \"D1\" ><x:v>4</x:v ></c><![CDATA[<raw> & ]]]></row>"
        "<mergeCell ref=\"A1:B1\"/><v>0123456789abcdef0123456789</v><f/></x:ws>tail &lt;";
    const std::string want =
        "[T:\n]<ws x=u><row r=1 spans=1:3><c r=A1 t=s><v>[T:12]</v></c><c r=B1><is><t>"
        "[T:a & b\rc\nd]</t></is></c><c r=C1></c><c r=D1><v>[T:4]</v></c>[C:<raw> & ]]</row>"
        "<mergeCell ref=A1:B1></mergeCell><v>[T:0123456789abcdef0123456789]</v><f></f></ws>[T:tail <]";
    for (size_t step : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(7), size_t(16), size_t(17), xml.size()})
        EXPECT_EQ(scan(xml, step), want) << "read size " << step;
}

TEST(XmlScan, TruncatedOrBrokenTagsAreErrors) {
    for (const char* bad : {"<a><b", "<a></", "<a x=\"1></a>", "<a x></a>", "<a/ ></a>", "<></>"})
        for (size_t step : {size_t(1), size_t(64)})
            EXPECT_THROW(scan(bad, step), igxl::Error) << bad << " read size " << step;
}

// The one-pass text scan of the cell fast lane against a byte-by-byte reading, with each mark
// at every position around the 16-byte steps and just past the end.
TEST(XmlScan, TextEndFlagsMatchAByteByByteReading) {
    auto expect = [](const std::string& t, size_t end, const char*& at, unsigned& flags) {
        flags = 0;
        at = nullptr;
        for (size_t i = 0; i < end; ++i) {
            if (t[i] == '<') {
                at = t.data() + i;
                return;
            }
            if (t[i] == '&' || t[i] == '\r') flags |= XmlScanner::kTextEscaped;
            if (t[i] == '\t' || t[i] == '\n' || t[i] == '\r') flags |= XmlScanner::kTextBreak;
            if (t[i] == '_' && t[i + 1] == 'x') flags |= XmlScanner::kTextUx;
        }
    };
    for (std::string mark : {"&", "\r", "\t", "\n", "_x", "_", "x_", "_<"})
        for (size_t at = 0; at < 40; ++at)
            for (size_t lt : {size_t(3), size_t(15), size_t(16), size_t(17), size_t(33), size_t(45)}) {
                std::string t(48, 'a');
                t.replace(std::min(at, t.size() - mark.size()), mark.size(), mark);
                if (lt < t.size() && t[lt] != '<' && lt != at) t[lt] = '<';
                const size_t end = 44;  // anything after is padding the scan may read but not report
                t.append(XmlScanner::kPad, '<');
                const char* want;
                unsigned want_flags;
                expect(t, end, want, want_flags);
                unsigned got_flags = 0;
                const char* got = XmlScanner::find_text_end_flags(t.data(), t.data() + end, got_flags);
                ASSERT_EQ(got, want) << mark << " at " << at << ", '<' at " << lt;
                if (want) {
                    EXPECT_EQ(got_flags, want_flags) << mark << " at " << at << ", '<' at " << lt;
                }
            }
}

}  // namespace
