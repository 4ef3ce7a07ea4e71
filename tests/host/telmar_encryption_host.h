// Shared by the encryption host tests: controllers in known encryption states, request records
// built from their layouts, and the 0x1E commands the controller received.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ptelm.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"
#include "telmar_host_fixture.h"

namespace telmar_encryption_host {

using qvsim::FirmwareState;
using qvsim::FwFault;

inline constexpr VK_BYTE kEncryption = 0x1E;
inline constexpr VK_BYTE kManagedSED = 0xE8;
inline const std::string kOfficer = "Officer#1";
inline const std::string kUser = "User#2pass";

// dwDriveFeatureFlags of the simulated drives.
inline constexpr std::uint32_t kSED = 0x1, kLocked = 0x20, kQualifying = 0x100, kOFS = 0x200, kOwned = 0x800,
                               kForeign = 0x1000, kOPAL = 0x2000, kEnterprise = 0x4000;

// Managed SED on in local mode under `master_key`, the drives reported as self-encrypting and the
// controller's own encryption off.
inline void ManagedSEDLocal(FirmwareState& s, const std::string& master_key = {}) {
    s.set_page("managed_sed", {0x07});
    s.set_page("drive", {0x08, 0x58, 0x03});
    s.identify.encryption_status = 0;
    s.identify.managed_sed_mode = 0x3;
    s.managed_sed.master_key = master_key;
}

// A request record as the test expects it, from the layout's offsets.
class Record {
public:
    explicit Record(size_t size) : bytes_(size, 0) {}
    Record& text(size_t offset, const std::string& s) {
        std::memcpy(bytes_.data() + offset, s.data(), s.size());
        return *this;
    }
    Record& u32(size_t offset, VK_DWORD v) {
        qvsim::put_le32(bytes_.data() + offset, v);
        return *this;
    }
    Record& u16(size_t offset, VK_WORD v) {
        qvsim::put_le16(bytes_.data() + offset, v);
        return *this;
    }
    std::string hex() const { return qvsim::hex_bytes(bytes_.data(), bytes_.size()); }

private:
    std::vector<VK_BYTE> bytes_;
};

// Every role may do everything.
inline std::vector<qvsim::FwRole> AllRoles() {
    return {{0, "crypto", 0xFFFFFF}, {1, "user", 0xFFFFFF}};
}

// A configured local controller, enabled, with both passwords and a master key; logical drive 0
// encrypted, 1 plaintext.
inline FirmwareState ConfiguredLocal() {
    FirmwareState s;
    s.set_page("encryption", {0x01});
    s.identify.encryption_status = 0x800 | 0x1000 | 0x20000 | 0x4 | 0x1;
    s.updates.passwords = {kOfficer, kUser};
    s.encryption.master_key = "LocalMasterKey-01";
    s.encryption.roles = AllRoles();
    for (VK_WORD d = 0; d < 4; ++d) {
        s.add_drive(d);
    }
    s.add_configured_drive(0, {0, 1}, 1 << 20).encryption_flags = 0x01;
    s.add_configured_drive(1, {2, 3}, 1 << 20);
    return s;
}

inline FirmwareState Unconfigured() {
    FirmwareState s;
    s.set_page("encryption", {0x01});
    s.identify.encryption_status = 0;
    s.updates.passwords = {"", ""};
    s.encryption.roles = AllRoles();
    return s;
}

inline FwFault Fails(VK_BYTE function, bool write, int err = EIO) {
    FwFault f;
    f.bmic = kEncryption;
    f.function = function;
    f.write = write;
    f.err = err;
    return f;
}

inline FwFault Refused(VK_BYTE function, bool write) {
    FwFault f = Fails(function, write, 0);
    f.sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    return f;
}

class EncryptionHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState s) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(s)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    FirmwareState& state() { return fw_->fw_state(); }

    // One 0x1E command as the request log shows it: write or read, function, data out.
    struct Sent {
        bool write;
        int function;
        std::string data;
    };
    std::vector<Sent> EncryptionCommands() {
        std::vector<Sent> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            const auto cdb = telmar_host::ParseHex(r.decoded["cdb"].get<std::string>());
            if (cdb.size() == 16 && cdb[6] == kEncryption && (cdb[0] == 0x26 || cdb[0] == 0x27)) {
                out.push_back(
                    {cdb[0] == 0x27, cdb[5],
                     r.decoded.contains("data_out") ? r.decoded["data_out"].get<std::string>() : ""});
            }
        }
        return out;
    }
    // Data of the 0x1E writes of `function`, in order.
    std::vector<std::string> Writes(int function) {
        std::vector<std::string> out;
        for (const Sent& s : EncryptionCommands()) {
            if (s.write && s.function == function) {
                out.push_back(s.data);
            }
        }
        return out;
    }
    size_t Reads(int function) {
        size_t n = 0;
        for (const Sent& s : EncryptionCommands()) {
            n += !s.write && s.function == function ? 1 : 0;
        }
        return n;
    }
    size_t AllWrites() {
        size_t n = 0;
        for (const Sent& s : EncryptionCommands()) {
            n += s.write ? 1 : 0;
        }
        return n;
    }
    // The writes the controller received, in order: "51" for an opcode, "1E/16" with a 0x1E function.
    std::vector<std::string> WriteSequence() {
        std::vector<std::string> out;
        for (const qvsim::BmicCdb& b : Received()) {
            if (b.write) {
                char text[16];
                if (b.opcode == kEncryption) {
                    std::snprintf(text, sizeof(text), "%02X/%u", b.opcode,
                                  static_cast<unsigned>(b.detail & 0xFF));
                } else {
                    std::snprintf(text, sizeof(text), "%02X", b.opcode);
                }
                out.emplace_back(text);
            }
        }
        return out;
    }
    // Data of the managed-SED writes the controller accepted, "function:hex".
    std::vector<std::string> SEDWrites() {
        std::vector<std::string> out;
        for (const auto& w : state().updates.writes) {
            if (w.opcode == kManagedSED) {
                out.push_back(std::to_string(w.detail & 0xFF) + ":" +
                              qvsim::hex_bytes(w.data.data(), w.data.size()));
            }
        }
        return out;
    }
    // The managed-SED writes the controller received, refused ones too.
    size_t SEDWritesReceived() {
        size_t n = 0;
        for (const qvsim::BmicCdb& b : Received()) {
            n += b.write && b.opcode == kManagedSED ? 1 : 0;
        }
        return n;
    }
    // Whether the data area was re-initialised since the log was cleared: its identify read went out.
    bool Reinitialised() {
        for (const qvsim::BmicCdb& b : Received()) {
            if (!b.write && b.opcode == 0x11) {
                return true;
            }
        }
        return false;
    }
    // Status word as the controller reports it after re-initialisation.
    VK_QWORD FreshStatus() {
        VK_ReInitializeCDA(cda());
        return VK_GetControllerEncryptionStatus(cda());
    }
};

} // namespace telmar_encryption_host
