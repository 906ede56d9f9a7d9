#include "check/vantor.h"
#include "util/error.h"

namespace igxl {

void Vantor::run_vbt_step(const std::string&, std::vector<std::string>&) {
    update_progressbar(0);
    put_data_log("开始处理目录中的BAS文件: " + device_directory);
    throw Error("the VBT check is not part of this build yet");
}

}  // namespace igxl
