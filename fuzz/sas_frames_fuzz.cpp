// SAS pass-through replies: the SSP frame tunnelled through a SIS controller (with and without a
// failed carrier), the SMP frame and the host's CSMI SSP buffer, and the CSMI SSP request builder.
// The input is the reply buffer as the driver or controller hands it back; every caller's buffer is
// allocated at its exact size so that a write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_csmi.h"
#include "pavl_wire.h"

namespace {

constexpr EnTransferType kTypes[] = {eDATA_TRANSFER_IN, eDATA_TRANSFER_OUT, eDATA_TRANSFER_INOUT, eDATA_TRANSFER_NONE};
constexpr size_t kSSPResponse = sizeof(pavlin::_MODIFIED_CSMI_SSPPT_BUFFER::bResponse);
constexpr size_t kCSMIResponse = sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER::bResponse);

std::unique_ptr<VK_BYTE[]> Exact(size_t n) {
    return std::unique_ptr<VK_BYTE[]>(new VK_BYTE[n == 0 ? 1 : n]());
}

void TakeSSP(const VK_BYTE* frame, size_t size) {
    const size_t carrier_length = size < 32 ? size : 32;
    for (EnTransferType type : kTypes) {
        for (VK_UINT32 io_size : {0u, 16u, 512u}) {
            for (VK_UINT32 sense_size : {0u, 18u, 252u, 300u}) {
                auto io = Exact(io_size);
                auto sense = Exact(sense_size);
                SCSIRequest request{};
                request.transfer_type = type;
                request.io_buffer = io_size ? io.get() : nullptr;
                request.io_buffer_size = io_size;
                request.sense_data = sense_size ? sense.get() : nullptr;
                request.sense_data_size = sense_size;
                pavlin::__TakeSSPTunnelReply(&request, frame, static_cast<VK_DWORD>(size));
                FUZZ_CHECK(request.valid_sense_data_size <= kSSPResponse);
                if (size < offsetof(pavlin::_MODIFIED_CSMI_SSPPT_BUFFER, bDataBuffer)) {
                    FUZZ_CHECK(request.valid_sense_data_size == 0);
                }
                for (VK_BYTE carrier_status : {VK_BYTE{0}, VK_BYTE{2}}) {
                    SCSIRequest carried = request;
                    pavlin::__TakeSSPTunnelCarrierReply(&carried, carrier_status, frame,
                                                        static_cast<VK_UINT32>(carrier_length), frame,
                                                        static_cast<VK_DWORD>(size));
                    if (carrier_status != 0) {
                        FUZZ_CHECK(carried.scsi_status == carrier_status);
                        FUZZ_CHECK(carried.valid_sense_data_size == carrier_length);
                    } else {
                        FUZZ_CHECK(carried.valid_sense_data_size <= kSSPResponse);
                    }
                }
            }
        }
    }
}

void TakeSMP(const VK_BYTE* data, size_t size) {
    const auto frame = std::make_unique<pavlin::_MODIFIED_CSMI_SMPPT_BUFFER>();
    std::memcpy(frame.get(), data, size < sizeof(*frame) ? size : sizeof(*frame));
    for (VK_UINT32 response_size : {0u, 8u, 1016u, 2000u}) {
        auto response = Exact(response_size);
        for (VK_BYTE carrier_status : {VK_BYTE{0}, VK_BYTE{2}}) {
            SMPRequest request{};
            request.additional_response_data = response_size ? response.get() : nullptr;
            request.additional_response_data_size = response_size;
            const bool taken = pavlin::__TakeSMPCarrierReply(&request, carrier_status, *frame);
            FUZZ_CHECK(taken == (carrier_status == 0));
            if (taken) {
                FUZZ_CHECK(request.header_function_result == frame->bFunctionResult);
            }
        }
    }
}

void TakeCSMI(const VK_BYTE* buffer, size_t size) {
    for (EnTransferType type : kTypes) {
        for (VK_DWORD data_size : {0u, 4u, 512u}) {
            for (VK_DWORD sense_size : {0u, 18u, 256u, 400u}) {
                auto io = Exact(data_size);
                auto sense = Exact(sense_size);
                VK_DWORD valid = 0xFFFFFFFF;
                VK_BYTE status = 0xEE;
                __TakeCSMISSPPassthruReply(buffer, static_cast<VK_DWORD>(size), type,
                                           data_size ? io.get() : nullptr, data_size,
                                           sense_size ? sense.get() : nullptr, sense_size, &valid, &status);
                FUZZ_CHECK(valid <= kCSMIResponse);
                if (size < sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER)) {
                    FUZZ_CHECK(valid == 0 && status == 0xEE);
                }
            }
        }
    }
}

// The builder over request parameters taken from the input: CDB length, CDB, then the data.
void Build(const VK_BYTE* data, size_t size) {
    if (size < 1) {
        return;
    }
    const VK_BYTE cdb_length = data[0];
    const VK_BYTE* cdb = size > 1 ? data + 1 : nullptr;
    const size_t cdb_room = size > 1 ? size - 1 : 0;
    if (cdb_length <= 16 && cdb_length > cdb_room) {
        return; // a caller's CDB holds the bytes it says it does; a longer one is refused unread
    }
    const size_t used = cdb_length <= cdb_room ? cdb_length : cdb_room;
    const VK_BYTE* payload = data + 1 + used;
    const VK_DWORD payload_size = static_cast<VK_DWORD>(size - 1 - used);
    const VK_BYTE address[8] = {0x50, 0, 0, 1, 2, 3, 4, 5};
    for (EnTransferType type : kTypes) {
        for (size_t slack : {size_t{0}, size_t{1}}) {
            // Exactly the record and the data, and one byte short of it.
            const size_t whole = sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER) + payload_size;
            const size_t buffer_size = slack ? whole - 1 : whole;
            auto buffer = Exact(buffer_size);
            const bool built = __BuildCSMISSPPassthru(buffer.get(), static_cast<VK_DWORD>(buffer_size), 3, 1,
                                                      address, type, cdb_length ? cdb : nullptr, cdb_length,
                                                      payload_size ? payload : nullptr, payload_size);
            FUZZ_CHECK(!built || (cdb_length <= 16 && slack == 0));
            if (built) {
                CSMI_SAS_SSP_PASSTHRU_BUFFER record;
                std::memcpy(&record, buffer.get(), sizeof(record));
                FUZZ_CHECK(record.bCDBLength == cdb_length);
                FUZZ_CHECK(record.uDataLength == payload_size);
                FUZZ_CHECK(cdb_length == 0 || std::memcmp(record.bCDB, cdb, cdb_length) == 0);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto reply = Exact(size);
    if (size != 0) {
        std::memcpy(reply.get(), data, size);
    }
    TakeSSP(reply.get(), size);
    TakeSMP(reply.get(), size);
    TakeCSMI(reply.get(), size);
    Build(reply.get(), size);
    return 0;
}
