// Commands the firmware self-tests send straight to a simulated controller.
#pragma once

#include <cstdint>
#include <vector>

#include "qvsim/controller_fw.h"

namespace selftest {

// A BMIC read as the library builds it (CDB 26, detail and length most significant first).
inline qvsim::Command bmic_read(std::uint8_t opcode, std::uint16_t length, std::uint32_t detail = 0,
                                std::uint16_t lun = 0) {
    qvsim::BmicCdb b;
    b.opcode = opcode;
    b.length = length;
    b.detail = detail;
    b.lun_low = std::uint8_t(lun);
    b.lun_high = std::uint8_t(lun >> 8);
    qvsim::Command c;
    c.transport = "test";
    c.cdb = b.to_cdb();
    c.direction = qvsim::Direction::kIn;
    c.data_in_length = length;
    return c;
}

// A BMIC write (CDB 27) carrying `data`, or a no-data command when it is empty.
inline qvsim::Command bmic_write(std::uint8_t opcode, const std::vector<std::uint8_t>& data, std::uint32_t detail = 0,
                                 std::uint16_t lun = 0) {
    qvsim::BmicCdb b;
    b.write = true;
    b.opcode = opcode;
    b.length = std::uint16_t(data.size());
    b.detail = detail;
    b.lun_low = std::uint8_t(lun);
    b.lun_high = std::uint8_t(lun >> 8);
    qvsim::Command c;
    c.transport = "test";
    c.cdb = b.to_cdb();
    c.direction = data.empty() ? qvsim::Direction::kNone : qvsim::Direction::kOut;
    c.data_out = data;
    return c;
}

// CISS REPORT LOGICAL (0xC2) or PHYSICAL (0xC3) LUNS, extended, with a 32-bit allocation length.
inline qvsim::Command report_luns(std::uint8_t opcode, std::uint32_t allocation) {
    qvsim::Command c;
    c.transport = "test";
    c.cdb = {opcode,
             std::uint8_t(opcode == 0xC3 ? 2 : 1),
             0,
             0,
             0,
             0,
             std::uint8_t(allocation >> 24),
             std::uint8_t(allocation >> 16),
             std::uint8_t(allocation >> 8),
             std::uint8_t(allocation),
             0,
             0};
    c.direction = qvsim::Direction::kIn;
    c.data_in_length = allocation;
    return c;
}

} // namespace selftest
