// patinfo: lists the time sets a demo pattern file uses (see tools/README.md for the format).
//
//   patinfo <pattern> -tset
//
// Plain and gzip-compressed patterns are read alike (zlib reads both). Failures go to standard
// error with exit status 1 and nothing on standard output.
#include <zlib.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "util/text.h"

namespace {

struct Failure {
    std::string message;
};

std::string read_pattern(const std::string& path) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) throw Failure{"cannot open '" + path + "'"};
    std::string text;
    char buf[1 << 16];
    for (;;) {
        int n = gzread(in, buf, sizeof buf);
        if (n < 0) {
            int err = 0;
            std::string what = gzerror(in, &err);
            gzclose(in);
            throw Failure{"cannot read '" + path + "': " + what};
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    gzclose(in);
    return text;
}

std::string_view drop_comment(std::string_view line) {
    size_t p = line.find("//");
    return p == std::string_view::npos ? line : line.substr(0, p);
}

struct TimeSetUse {
    std::vector<std::string> imported;
    std::vector<std::string> used;  // in order of first use
};

TimeSetUse scan(const std::string& path, const std::string& text) {
    using igxl::util::split_ws;
    using igxl::util::strip;
    TimeSetUse use;
    bool named = false;
    size_t line_no = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line = strip(drop_comment(std::string_view(text).substr(start, end - start)));
        start = end + 1;
        ++line_no;
        if (line.empty()) continue;
        auto where = [&] { return path + ":" + std::to_string(line_no) + ": "; };

        if (line.starts_with("pattern ") || line.starts_with("pattern\t")) {
            named = true;
            continue;
        }
        if (line.starts_with("import ")) {
            const std::string spaced = igxl::util::replace_all(line, ",", " ");
            auto words = split_ws(spaced);
            if (words.size() < 2 || words[1] != "tset")
                throw Failure{where() + "expected 'import tset <name>, ...;'"};
            for (size_t i = 2; i < words.size(); ++i) {
                std::string_view w = igxl::util::strip_chars(words[i], ";");
                if (!w.empty()) use.imported.emplace_back(w);
            }
            continue;
        }
        auto words = split_ws(line);
        size_t i = 0;
        if (words[0] == "repeat") {
            if (words.size() < 2) throw Failure{where() + "expected 'repeat <count>'"};
            int64_t count = 0;
            if (!igxl::util::parse_int(words[1], count) || count < 1)
                throw Failure{where() + "repeat count is not a positive number"};
            i = 2;
        }
        if (i >= words.size() || words[i] != ">") {
            if (i == 2) throw Failure{where() + "expected '>' after the repeat count"};
            continue;  // vector header, braces, labels
        }
        if (i + 1 >= words.size() || words[i + 1] == ";")
            throw Failure{where() + "vector names no time set"};
        std::string tset(words[i + 1]);
        bool seen = false;
        for (const auto& u : use.used) seen = seen || u == tset;
        if (!seen) use.used.push_back(tset);
    }
    if (!named) throw Failure{path + ": not a pattern file (no 'pattern <name>;' statement)"};
    for (const auto& u : use.used) {
        bool ok = false;
        for (const auto& imp : use.imported) ok = ok || imp == u;
        if (!ok)
            std::cerr << "patinfo: warning: " << path << ": time set '" << u
                      << "' is used but not imported\n";
    }
    return use;
}

int usage(const std::string& message) {
    std::cerr << "patinfo: " << message << "\nusage: patinfo <pattern file> -tset\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pattern;
    bool tset = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-tset") {
            tset = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option '" + arg + "'");
        } else if (pattern.empty()) {
            pattern = arg;
        } else {
            return usage("more than one pattern file given");
        }
    }
    if (pattern.empty()) return usage("no pattern file given");
    if (!tset) return usage("nothing to list (give -tset)");
    try {
        TimeSetUse use = scan(pattern, read_pattern(pattern));
        // Everything is worked out before the first line goes out, so a failure lists nothing.
        std::string out = "Pattern: " + pattern + "\nTime sets used:\n";
        for (size_t i = 0; i < use.used.size(); ++i)
            out += "\t" + use.used[i] + " " + std::to_string(i % 10) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const Failure& f) {
        std::cerr << "patinfo: " << f.message << "\n";
        return 1;
    }
}
