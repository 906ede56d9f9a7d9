// The pieces of a VBA project file that Office reads: the RLE compression of source and of the
// dir stream, the obfuscated protection fields of the PROJECT stream, and the streams
// themselves. The compound-file container around them is written by the builder (libgsf).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::ovba {

// Compressed container: signature byte 0x01, then one chunk per 4096 input bytes. A chunk
// that does not shrink is stored raw; the format pads a raw chunk to 4096 bytes, so only an
// incompressible final chunk of more than about 3.6 KB comes back longer (zero-padded).
std::string compress(std::string_view data);

// The obfuscation of the PROJECT stream's CMG, DPB and GC values, as upper-case hex. The
// seed and the ignored bytes are fixed so that a build gives the same file every time.
std::string encrypt(std::string_view project_clsid, std::string_view data, uint8_t seed);

enum class ModuleKind { Procedural, Document };

struct Module {
    std::string name;    // module and stream name (ASCII)
    std::string source;  // text in the project code page, CR LF line ends, attributes first
    ModuleKind kind = ModuleKind::Procedural;
};

struct Project {
    std::string name = "VBAProject";
    std::string clsid;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    uint16_t code_page = 1252;  // how module sources and names are encoded
    std::vector<Module> modules;
};

// Uncompressed dir stream (the builder stores compress() of it).
std::string dir_stream(const Project& p);
// "PROJECT" stream text.
std::string project_stream(const Project& p);
// "PROJECTwm" stream: module names in code page and UTF-16.
std::string project_wm_stream(const Project& p);
// "_VBA_PROJECT" stream with version 0xFFFF: no compiled code, Office recompiles the source.
std::string vba_project_stream();
// Source text as stored: CR LF line ends (a .bas file may come with LF only).
std::string normalise_source(std::string_view text);

}  // namespace igxl::ovba
