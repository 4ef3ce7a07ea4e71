// The stateful simulated controller: answers each command by opcode from a dispatch table.
// Firmware contents live in sim/fw_*.cpp files that register their handlers at start-up.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <typeindex>
#include <utility>
#include <vector>

#include "qvsim/firmware.h"
#include "qvsim/frames.h"
#include "qvsim/scenario.h"

namespace qvsim {

// A BMIC command in its 16-byte vendor CDB: 26 reads from the controller, 27 writes to it.
struct BmicCdb {
    bool write = false;                  // byte 0 == 0x27
    std::uint8_t opcode = 0;             // byte 6
    std::uint8_t lun_low = 0;            // byte 1
    std::uint8_t lun_high = 0;           // byte 9
    std::uint32_t detail = 0;            // bytes 2..5, most significant first
    std::uint16_t length = 0;            // bytes 7..8, most significant first
    std::uint64_t additional_detail = 0; // bytes 10..15, most significant first (48 bits)

    std::uint16_t lun() const { return static_cast<std::uint16_t>(lun_low | (lun_high << 8)); }
    // nullopt unless the CDB is exactly 16 bytes starting with 0x26 or 0x27.
    static std::optional<BmicCdb> parse(std::span<const std::uint8_t> cdb);
    std::vector<std::uint8_t> to_cdb() const;
};

enum class BmicDirection { kRead, kWrite };

class ControllerFirmware;

using BmicHandler = std::function<Reply(ControllerFirmware& fw, const Command& cmd, const BmicCdb& bmic)>;
using ScsiHandler = std::function<Reply(ControllerFirmware& fw, const Command& cmd)>;
using SmpHandler = std::function<SmpReply(ControllerFirmware& fw, const SmpRequest& req)>;
// A CSMI frame of another control code than SSP (24) or SMP (23) tunnelled in BMIC write 0x68
// (say 22, get link errors): gets the carrier and its frame, answers with the frame written back
// as data in (or a CHECK CONDITION, or an errno).
using CsmiFrameHandler =
    std::function<Reply(ControllerFirmware& fw, const Command& carrier, std::span<const std::uint8_t> frame)>;

// Process-wide handlers that every ControllerFirmware starts from. A later registration of the
// same key replaces the earlier one. Call from a static initializer in a sim/fw_*.cpp file:
//   static const bool reg = qvsim::register_bmic(qvsim::BmicDirection::kRead, 0x11, &identify);
bool register_bmic(BmicDirection dir, std::uint8_t opcode, BmicHandler h);
bool register_scsi(std::uint8_t opcode, ScsiHandler h);
bool register_smp(std::uint8_t function, SmpHandler h);
bool register_csmi_frame(std::uint8_t control_code, CsmiFrameHandler h);

// Answers by opcode: BMIC (CDB 26/27) by direction and byte 6, every other CDB by byte 0, and
// CSMI frames tunnelled in BMIC write 0x68 by unwrapping them (SSP: the inner CDB is dispatched
// again with transport "csmi-ssp" and the frame's LUN address; SMP: by SMP function).
// Unknown opcodes get CHECK CONDITION, ILLEGAL REQUEST, invalid command operation code.
// Handlers run under the firmware's lock, one command at a time.
class ControllerFirmware : public Firmware {
public:
    ControllerFirmware() = default;

    Reply execute(const Command& cmd) override;

    // Per-instance handlers; they win over the registered ones.
    ControllerFirmware& on_bmic(BmicDirection dir, std::uint8_t opcode, BmicHandler h);
    ControllerFirmware& on_scsi(std::uint8_t opcode, ScsiHandler h);
    ControllerFirmware& on_smp(std::uint8_t function, SmpHandler h);

    // Firmware state of one feature area, created on first use, one per type and instance:
    //   struct DriveState { ... };  auto& s = fw.state<DriveState>();
    template <class T> T& state() {
        std::lock_guard lk(mu_);
        auto& slot = state_[std::type_index(typeid(T))];
        if (!slot)
            slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

    // The scenario controller of the device that carries the current command (its board_id,
    // extra, ...). Set by the transport endpoints before each command; null outside a device.
    const Controller* controller() const { return controller_.load(); }
    void bind(const Controller* c) { controller_.store(c); }
    // controller()->extra, or an empty object.
    const nlohmann::json& extra() const;

private:
    Reply dispatch(const Command& cmd, int depth);
    Reply tunnel(const Command& carrier, const BmicCdb& bmic, int depth);

    std::recursive_mutex mu_;
    std::map<std::pair<BmicDirection, std::uint8_t>, BmicHandler> bmic_;
    std::map<std::uint8_t, ScsiHandler> scsi_;
    std::map<std::uint8_t, SmpHandler> smp_;
    std::map<std::type_index, std::shared_ptr<void>> state_;
    std::atomic<const Controller*> controller_{nullptr};
};

// Binds the device's controller when its firmware is a ControllerFirmware (endpoints call it).
void bind_controller(Firmware& fw, const Controller& c);

} // namespace qvsim
