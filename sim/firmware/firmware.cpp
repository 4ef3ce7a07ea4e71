#include "qvsim/firmware.h"

namespace qvsim {

Reply check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Reply r;
    r.scsi_status = 0x02;
    r.sense.assign(18, 0);
    r.sense[0] = 0x70;
    r.sense[2] = key & 0x0F;
    r.sense[7] = 10; // additional length
    r.sense[12] = asc;
    r.sense[13] = ascq;
    return r;
}

ScriptedFirmware& ScriptedFirmware::on(std::uint8_t opcode, Handler h) {
    handlers_[opcode] = std::move(h);
    return *this;
}

Reply ScriptedFirmware::execute(const Command& cmd) {
    if (!cmd.cdb.empty()) {
        auto it = handlers_.find(cmd.cdb[0]);
        if (it != handlers_.end())
            return it->second(cmd);
    }
    return check_condition(0x05, 0x20, 0x00); // ILLEGAL REQUEST, invalid command operation code
}

bool Fault::fires_now() {
    ++seen;
    if (seen < nth)
        return false;
    return count == 0 || seen - nth < count;
}

} // namespace qvsim
