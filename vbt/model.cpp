#include "vbt/model.h"

#include <algorithm>

#include "vbt/naming_rules.h"
#include "vbt/source.h"

namespace igxl::vbt {

std::string_view to_text(VariableScope scope) {
    switch (scope) {
        case VariableScope::LOCAL: return "local";
        case VariableScope::MODULE_PRIVATE: return "module_private";
        case VariableScope::GLOBAL: return "global";
        case VariableScope::CLASS_PRIVATE: return "class_private";
        case VariableScope::CLASS_PUBLIC: return "class_public";
        case VariableScope::CLASS_EXTERNAL: return "class_external";
    }
    return "";
}

std::string_view to_text(VariableType type) {
    switch (type) {
        case VariableType::INTEGER: return "Integer";
        case VariableType::LONG: return "Long";
        case VariableType::SINGLE: return "Single";
        case VariableType::DOUBLE: return "Double";
        case VariableType::STRING: return "String";
        case VariableType::BOOLEAN: return "Boolean";
        case VariableType::VARIANT: return "Variant";
        case VariableType::SITELONG: return "SiteLong";
        case VariableType::SITEDOUBLE: return "SiteDouble";
        case VariableType::SITEBOOLEAN: return "SiteBoolean";
        case VariableType::DSPWAVE: return "DspWave";
        case VariableType::ENUM: return "Enum";
        case VariableType::TYPE: return "Type";
        case VariableType::PINDATA: return "PinData";
        case VariableType::PINLISTDATA: return "PinListData";
        case VariableType::CSL: return "CSL";
        case VariableType::USERCLASS: return "UserClass";
        case VariableType::PINLIST: return "PinList";
        case VariableType::PATTERN: return "Pattern";
    }
    return "";
}

std::string_view to_text(FunctionType kind) {
    switch (kind) {
        case FunctionType::VBT: return "VBT";
        case FunctionType::DSP: return "DSP";
        case FunctionType::IP: return "IP";
        case FunctionType::OTHER: return "OTHER";
    }
    return "";
}

std::optional<std::string> VariableInfo::correct_name() const {
    if (!flagged) return std::nullopt;
    return VBTNamingRules::get_correct_variable_name(*this).first;
}

std::optional<std::string> VariableInfo::issue_description() const {
    if (!flagged) return std::nullopt;
    return VBTNamingRules::get_correct_variable_name(*this).second;
}

std::vector<std::string> FunctionInfo::issues() const {
    std::vector<std::string> out;
    for (const Parameter& p : parameters) {
        auto [correct, issue] = VBTNamingRules::check_function_parameter(p.name, p.type, p.pass_mode, func_type);
        if (!issue || issue->empty()) continue;
        std::string text = "参数 '" + p.name + "': " + *issue;
        if (correct != p.name) text += " (建议改为: '" + correct + "')";
        out.push_back(std::move(text));
    }
    return out;
}

// The scan records only ASCII names ([A-Za-z_][A-Za-z0-9_]*, ending where the word run ends), so
// the name runs to the first byte that is not an ASCII word character.
std::string_view VariableReference::var_name() const {
    const std::string& text = *tables_->files[file_].text;
    size_t end = offset_;
    while (end < text.size() && detail::is_ascii_word(static_cast<unsigned char>(text[end]))) ++end;
    return std::string_view(text).substr(offset_, end - offset_);
}

std::string_view VariableReference::context() const {
    const std::string_view text = *tables_->files[file_].text;
    const size_t before = offset_ == 0 ? std::string_view::npos : text.rfind('\n', offset_ - 1);
    const size_t begin = before == std::string_view::npos ? 0 : before + 1;
    const size_t end = std::min(text.find('\n', offset_), text.size());
    return detail::strip(text.substr(begin, end - begin));
}

}  // namespace igxl::vbt
