// CSMI SAS requests of CSMI-capable drivers: records and senders.
#ifndef PAVL_CSMI_H
#define PAVL_CSMI_H

#include "pavl_extern.h"

#include <cstddef>

// Request codes of CSMI-capable drivers.
inline constexpr unsigned long kCSMISASDriverInfoRequest = 0xCC770001UL;
inline constexpr unsigned long kCSMISASControllerConfigRequest = 0xCC770002UL;
inline constexpr unsigned long kCSMISASControllerStatusRequest = 0xCC770003UL;
inline constexpr unsigned long kCSMISASPhyInfoRequest = 0xCC770014UL;
inline constexpr unsigned long kCSMISASSMPPassthroughRequest = 0xCC770017UL;
inline constexpr unsigned long kCSMISASSSPPassthroughRequest = 0xCC770018UL;
inline constexpr unsigned long kCSMISASPauseActivityRequest = 0xCC770031UL;
inline constexpr unsigned long kCSMISASResumeActivityRequest = 0xCC770032UL;
inline constexpr VK_UINT64 kCSMISASTimeout = 60;

// Every CSMI buffer starts with this header.
struct IOCTL_HEADER {
    VK_UINT64 IOControllerNumber;
    VK_UINT64 Length; // the whole buffer's size
    VK_UINT64 ReturnCode;
    VK_UINT64 Timeout;
    VK_UINT16 Direction; // 1 when data go to the device
};
static_assert(sizeof(IOCTL_HEADER) == 40);

// SSP pass-through; the data follow the record.
struct CSMI_SAS_SSP_PASSTHRU_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bConnectionRate;
    VK_BYTE bReserved;
    VK_BYTE bDestinationSASAddress[8];
    VK_BYTE bLun[8];
    VK_BYTE bCDBLength;
    VK_BYTE bAdditionalCDBLength;
    VK_BYTE bReserved2[2];
    VK_BYTE bCDB[16];
    VK_UINT64 uFlags;
    VK_BYTE bAdditionalCDB[24];
    VK_UINT64 uDataLength;
    VK_BYTE bConnectionStatus;
    VK_BYTE bSSPStatus;
    VK_BYTE bReserved3[2];
    VK_BYTE bDataPresent;
    VK_BYTE bStatus;
    VK_BYTE bResponseLength[2]; // most significant byte first
    VK_BYTE bResponse[256];
    VK_UINT64 uDataBytes;
};
static_assert(sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER) == 392);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bPhyIdentifier) == 40);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bDestinationSASAddress) == 44);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bLun) == 52);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bCDBLength) == 60);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bCDB) == 64);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uFlags) == 80);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uDataLength) == 112);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bConnectionStatus) == 120);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bDataPresent) == 124);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bStatus) == 125);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bResponseLength) == 126);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bResponse) == 128);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uDataBytes) == 384);

inline constexpr VK_UINT64 kCSMISSPFlagRead = 1;
inline constexpr VK_UINT64 kCSMISSPFlagWrite = 2;
inline constexpr VK_UINT64 kCSMISSPFlagNoData = 4;
inline constexpr VK_BYTE kCSMISSPResponseDataPresent = 2;

// Sends one CSMI request through a working copy of the buffer, which is copied back whatever the
// outcome. 0 or the system error number.
VK_DWORD __SendCSMISASCommand(int device_handle, unsigned long request_code, void* buffer,
                              VK_DWORD buffer_size);

// Fills a zeroed SSP buffer (the record followed by data_buffer_size bytes). False when the request
// cannot be expressed.
bool __BuildCSMISSPPassthru(VK_BYTE* buffer, VK_DWORD buffer_size, VK_DWORD controller_number, VK_BYTE phy_identifier,
                            const VK_BYTE* sas_address, EnTransferType transfer_type, const VK_BYTE* cdb,
                            VK_BYTE cdb_length, const VK_BYTE* data_buffer, VK_DWORD data_buffer_size);

// Reads a request the driver completed back: the data read (at most the bytes the driver reports),
// the device status and the response (sense) data.
void __TakeCSMISSPPassthruReply(const VK_BYTE* buffer, VK_DWORD buffer_size, EnTransferType transfer_type, VK_BYTE* data_buffer,
                                VK_DWORD data_buffer_size, VK_BYTE* sense_buffer, VK_DWORD sense_buffer_size,
                                VK_DWORD* valid_sense_length, VK_BYTE* device_status);

// 0 done; otherwise the driver's error, or 1 when the request went through but the driver reported
// a failure, or nothing could be sent.
VK_DWORD SendCSMISASSSPPassthruCommand(int device_handle, VK_DWORD controller_number, VK_BYTE phy_identifier,
                                       const VK_BYTE* sas_address, EnTransferType transfer_type,
                                       const VK_BYTE* cdb, VK_BYTE cdb_length, VK_BYTE* data_buffer,
                                       VK_DWORD data_buffer_size, VK_BYTE* sense_buffer,
                                       VK_DWORD sense_buffer_size, VK_DWORD* valid_sense_length,
                                       VK_BYTE* device_status);

// ---- Information requests ---------------------------------------------------------------------
// Their contents are the driver's; the system reads none of them, so they stay opaque.

struct CSMI_SAS_DRIVER_INFO_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE Information[176];
};
static_assert(sizeof(CSMI_SAS_DRIVER_INFO_BUFFER) == 216);

struct CSMI_SAS_CNTLR_CONFIG_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE Configuration[200];
};
static_assert(sizeof(CSMI_SAS_CNTLR_CONFIG_BUFFER) == 240);

struct CSMI_SAS_CNTLR_STATUS_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE Status[48];
};
static_assert(sizeof(CSMI_SAS_CNTLR_STATUS_BUFFER) == 88);

// ---- Phy information --------------------------------------------------------------------------

// Device types and protocol bits of an identify record.
inline constexpr VK_BYTE kCSMISASEndDevice = 0x10;
inline constexpr VK_BYTE kCSMISASEdgeExpander = 0x20;
inline constexpr VK_BYTE kCSMISASFanoutExpander = 0x30;
inline constexpr VK_BYTE kCSMISASProtocolSATA = 0x01;
inline constexpr VK_BYTE kCSMISASProtocolSMP = 0x02;
inline constexpr VK_BYTE kCSMISASProtocolSTP = 0x04;
inline constexpr VK_BYTE kCSMISASProtocolSSP = 0x08;

struct CSMI_SAS_IDENTIFY {
    VK_BYTE bDeviceType;
    VK_BYTE bRestricted;
    VK_BYTE bInitiatorPortProtocol;
    VK_BYTE bTargetPortProtocol;
    VK_BYTE bRestricted2[8];
    VK_BYTE bSASAddress[8];
    VK_BYTE bPhyIdentifier;
    VK_BYTE bSignalClass;
    VK_BYTE bReserved[6];
};
static_assert(sizeof(CSMI_SAS_IDENTIFY) == 28);
static_assert(offsetof(CSMI_SAS_IDENTIFY, bSASAddress) == 12);
static_assert(offsetof(CSMI_SAS_IDENTIFY, bPhyIdentifier) == 20);

struct CSMI_SAS_PHY_ENTITY {
    CSMI_SAS_IDENTIFY Identify;
    VK_BYTE bPortIdentifier;
    VK_BYTE bNegotiatedLinkRate;
    VK_BYTE bMinimumLinkRate;
    VK_BYTE bMaximumLinkRate;
    VK_BYTE bPhyChangeCount;
    VK_BYTE bAutoDiscover;
    VK_BYTE bPhyFeatures;
    VK_BYTE bReserved;
    CSMI_SAS_IDENTIFY Attached;
};
static_assert(sizeof(CSMI_SAS_PHY_ENTITY) == 64);
static_assert(offsetof(CSMI_SAS_PHY_ENTITY, bPortIdentifier) == 28);
static_assert(offsetof(CSMI_SAS_PHY_ENTITY, bPhyFeatures) == 34);
static_assert(offsetof(CSMI_SAS_PHY_ENTITY, Attached) == 36);

inline constexpr size_t kCSMISASMaxPhys = 32;

struct CSMI_SAS_PHY_INFO_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE bNumberOfPhys; // may claim more phys than the buffer has slots
    VK_BYTE bReserved[3];
    CSMI_SAS_PHY_ENTITY Phy[kCSMISASMaxPhys];
};
static_assert(sizeof(CSMI_SAS_PHY_INFO_BUFFER) == 2096);
static_assert(offsetof(CSMI_SAS_PHY_INFO_BUFFER, bNumberOfPhys) == 40);
static_assert(offsetof(CSMI_SAS_PHY_INFO_BUFFER, Phy) == 44);

// ---- SMP pass-through -------------------------------------------------------------------------

inline constexpr size_t kCSMISASSMPAdditionalBytes = 1016;

struct CSMI_SAS_SMP_REQUEST {
    VK_BYTE bFrameType;
    VK_BYTE bFunction;
    VK_BYTE bAllocatedResponseLength;
    VK_BYTE bRequestLength;
    VK_BYTE bAdditionalRequestBytes[kCSMISASSMPAdditionalBytes];
};

struct CSMI_SAS_SMP_RESPONSE {
    VK_BYTE bFrameType;
    VK_BYTE bFunction;
    VK_BYTE bFunctionResult;
    VK_BYTE bResponseLength;
    VK_BYTE bAdditionalResponseBytes[kCSMISASSMPAdditionalBytes];
};

struct CSMI_SAS_SMP_PASSTHRU_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bConnectionRate;
    VK_BYTE bReserved;
    VK_BYTE bDestinationSASAddress[8];
    VK_BYTE bPadding[4];
    VK_UINT64 uRequestLength;
    CSMI_SAS_SMP_REQUEST Request;
    VK_BYTE bConnectionStatus;
    VK_BYTE bReserved2[3];
    VK_UINT64 uResponseBytes;
    CSMI_SAS_SMP_RESPONSE Response;
};
static_assert(sizeof(CSMI_SAS_SMP_PASSTHRU_BUFFER) == 2120);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, bDestinationSASAddress) == 44);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, uRequestLength) == 56);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, Request) == 64);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, Request.bAdditionalRequestBytes) == 68);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, bConnectionStatus) == 1084);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, uResponseBytes) == 1088);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, Response) == 1096);
static_assert(offsetof(CSMI_SAS_SMP_PASSTHRU_BUFFER, Response.bAdditionalResponseBytes) == 1100);

// ---- Background activity ----------------------------------------------------------------------

struct CSMI_SAS_OFFLINE_PAUSE_ACTIVITY_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE bSASAddress[8];
    VK_BYTE bReserved[64];
};
static_assert(sizeof(CSMI_SAS_OFFLINE_PAUSE_ACTIVITY_BUFFER) == 112);
static_assert(offsetof(CSMI_SAS_OFFLINE_PAUSE_ACTIVITY_BUFFER, bSASAddress) == 40);

// ---- Senders ----------------------------------------------------------------------------------

// Each zeroes the buffer, sets the controller number and direction 0, and sends; the request's
// result (0 or the system error number).
VK_DWORD SendCSMISASDriverInformationCommand(int device_handle, VK_DWORD controller_number,
                                             CSMI_SAS_DRIVER_INFO_BUFFER* buffer);
VK_DWORD SendCSMISASControllerConfigCommand(int device_handle, VK_DWORD controller_number,
                                            CSMI_SAS_CNTLR_CONFIG_BUFFER* buffer);
VK_DWORD SendCSMISASControllerStatusCommand(int device_handle, VK_DWORD controller_number,
                                            CSMI_SAS_CNTLR_STATUS_BUFFER* buffer);
VK_DWORD SendCSMISASPhyInfoCommand(int device_handle, VK_DWORD controller_number,
                                   CSMI_SAS_PHY_INFO_BUFFER* buffer);

// Pause (or resume) background activity of the device at the SAS address. The phy identifier is
// not used. The request's result; 1 when the buffer cannot be allocated.
VK_DWORD SendCSMISASPauseBackgroundActivityCommand(int device_handle, VK_DWORD controller_number,
                                                   VK_BYTE phy_identifier, const VK_BYTE* sas_address,
                                                   VK_BOOL pause);

// Fills a zeroed SMP buffer. False when the additional request does not fit the frame's 1016 bytes.
bool __BuildCSMISMPPassthru(CSMI_SAS_SMP_PASSTHRU_BUFFER* buffer, VK_DWORD controller_number,
                            VK_BYTE phy_identifier, VK_BYTE port_identifier, const VK_BYTE* sas_address,
                            VK_BYTE frame_type, VK_BYTE function, VK_BYTE allocated_response_length,
                            VK_BYTE request_length, const VK_BYTE* additional_request,
                            VK_DWORD additional_request_size);
// The response frame's header and at most 1016 bytes of its additional data.
void __TakeCSMISMPPassthruReply(const CSMI_SAS_SMP_PASSTHRU_BUFFER* buffer, VK_BYTE* frame_type,
                                VK_BYTE* function, VK_BYTE* function_result, VK_BYTE* response_length,
                                VK_BYTE* additional_response, VK_DWORD additional_response_size);

// 0 done; otherwise the driver's error, or 1 when the driver reported a failure in the header or
// the request cannot be built (additional request data beyond 1016 bytes).
VK_DWORD SendCSMISASSMPCommand(int device_handle, VK_DWORD controller_number, VK_BYTE phy_identifier,
                               VK_BYTE port_identifier, const VK_BYTE* sas_address, VK_BYTE* frame_type,
                               VK_BYTE* function, VK_BYTE allocated_response_length, VK_BYTE request_length,
                               const VK_BYTE* additional_request, VK_DWORD additional_request_size,
                               VK_BYTE* function_result, VK_BYTE* response_length,
                               VK_BYTE* additional_response, VK_DWORD additional_response_size);

// ---- Topology walk ----------------------------------------------------------------------------

struct CSMIAddress {
    VK_BYTE phy_identifier;
    VK_BYTE sas_address[8];
};

struct CSMIPhysicalDeviceInfo {
    VK_BYTE device_type; // the attached device type; 0x1D for an enclosure services device
    CSMIAddress device_address;
    CSMIAddress parent_device_address; // zero for a device on a controller phy
    VK_BYTE phy_index;
    CSMIPhysicalDeviceInfo* next_item;
};

struct CSMIPhysicalDeviceInfoList {
    CSMIPhysicalDeviceInfo* list_head;
    CSMIPhysicalDeviceInfo* list_tail;
};

struct SAS_LL_EXPANDER {
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bNegotiatedLinkRate;
    VK_BYTE bTargetPortProtocol;
    VK_BYTE bSASAddress[8];
    VK_BYTE NumberOfPhys;
    VK_DWORD Status;
};

// SMP functions and frame type of the walk.
inline constexpr VK_BYTE kSMPRequestFrameType = 0x40;
inline constexpr VK_BYTE kSMPReportGeneral = 0x00;
inline constexpr VK_BYTE kSMPDiscover = 0x10;
inline constexpr VK_DWORD kCSMIExpanderPhyDelayMs = 50;
// Expanders nested deeper than this are not walked; no real SAS domain comes near it.
inline constexpr unsigned kCSMIMaxExpanderDepth = 64;

// What the walk sends. The walk of a controller uses the driver's requests on its node.
class CSMIWalkTransport {
public:
    virtual ~CSMIWalkTransport() = default;
    // The phy information request: 0 or the request's error.
    virtual VK_DWORD PhyInfo(CSMI_SAS_PHY_INFO_BUFFER* buffer) = 0;
    // A standard INQUIRY by SSP pass-through: 0 done, with the device's status.
    virtual VK_DWORD Inquiry(VK_BYTE phy_identifier, const VK_BYTE* sas_address, VK_BYTE* data,
                             VK_DWORD data_size, VK_BYTE* device_status) = 0;
    // An SMP request whose frame (4 header bytes, then `request`) goes to the SAS address. The
    // response's additional bytes (from frame byte 4) land in `response`.
    virtual VK_DWORD SMP(VK_BYTE phy_identifier, VK_BYTE port_identifier, const VK_BYTE* sas_address,
                         VK_BYTE function, const VK_BYTE* request, VK_DWORD request_size,
                         VK_BYTE* function_result, VK_BYTE* response, VK_DWORD response_size) = 0;
    virtual void Sleep(VK_DWORD milliseconds) = 0;
};

// Whether a device with that SAS address is listed.
bool __IsCSMIDeviceListed(const CSMIPhysicalDeviceInfoList* devices, const VK_BYTE* sas_address);
void __FreeCSMIPhysicalDeviceInfoList(CSMIPhysicalDeviceInfoList* devices);

void __ProcessCSMIEndDevice(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                            const CSMI_SAS_PHY_ENTITY& entity, bool behind_expander,
                            const CSMIAddress& parent, VK_BYTE phy_index);
void __ProcessCSMIExpander(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                           const CSMI_SAS_PHY_ENTITY& entity, bool behind_expander, const CSMIAddress& parent,
                           VK_BYTE phy_index, unsigned depth);
void __CSMISMPDiscovery(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                        const SAS_LL_EXPANDER& expander, VK_BYTE expander_phy, VK_BYTE phy_index,
                        unsigned depth);

// Steps of the walk: find the devices, then describe each as a copy of the controller's descriptor.
void __CSMIWalk(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices);
// Device type of the descriptor for a listed device type.
VK_WORD __CSMIDescriptorDeviceType(VK_BYTE device_type);
void __AppendCSMIDeviceDescriptors(DeviceDescriptor controller_descriptor,
                                   const CSMIPhysicalDeviceInfoList* devices, DeviceDescriptorList list);

// Appends one descriptor per device found behind the controller.
void __PopulateCSMIPhysicalDeviceDescriptorList(DeviceDescriptor controller_descriptor,
                                                DeviceDescriptorList list);

#endif
