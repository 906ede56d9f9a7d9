#include "vbt/apply_flag.h"

#include "util/text.h"

namespace igxl::vbt {

ApplyFlag read_apply_flag(const xlsx::Cell& cell) {
    switch (cell.kind) {
        case xlsx::Cell::Empty: return ApplyFlag::NO;
        case xlsx::Cell::Bool: return cell.boolean ? ApplyFlag::YES : ApplyFlag::NO;
        case xlsx::Cell::Number:
            if (cell.number == 1) return ApplyFlag::YES;
            if (cell.number == 0) return ApplyFlag::NO;
            return ApplyFlag::NOT_UNDERSTOOD;
        default: break;
    }
    std::string text = util::to_upper(util::strip(cell.text));
    if (cell.kind == xlsx::Cell::Formula) {
        if (text == "=TRUE()" || text == "=TRUE") return ApplyFlag::YES;
        if (text == "=FALSE()" || text == "=FALSE") return ApplyFlag::NO;
        return ApplyFlag::NOT_UNDERSTOOD;
    }
    if (text.empty() || text == "FALSE" || text == "0" || text == "否") return ApplyFlag::NO;
    if (text == "TRUE" || text == "TRUE()" || text == "=TRUE()" || text == "1" || text == "是") return ApplyFlag::YES;
    return ApplyFlag::NOT_UNDERSTOOD;
}

}  // namespace igxl::vbt
