// Linux controller discovery: kernel request records, discovery workers and device-node primitives.
#ifndef PAVL_LINUX_X86_H
#define PAVL_LINUX_X86_H

#include "ppavl_discovery.h"

#include <cstddef>

// CISS driver: get PCI information.
inline constexpr unsigned long kCISSGetPCIInfoRequest = 0x80084201UL;

struct CISS_PCI_INFO {
    VK_BYTE bus;
    VK_BYTE dev_fn; // device in bits 7-3, function in bits 2-0
    VK_WORD domain;
    VK_DWORD board_id;
};

// SIS driver: send FIB.
inline constexpr unsigned long kSISSendFIBRequest = 0x42008UL;

inline constexpr VK_DWORD kFibXferStateHostOwned = 1;
inline constexpr VK_WORD kFibCommandRequestAdapterInfo = 703;
inline constexpr VK_WORD kFibCommandRequestSupplementAdapterInfo = 706;
inline constexpr VK_BYTE kFibStructTypeTFib2 = 4;
inline constexpr VK_DWORD kAdapterOptionSupplementAdapterInfo = 0x10000;
inline constexpr size_t kFibSize = 512;
inline constexpr size_t kFibDataSize = 480;

struct FIB2_HEADER {
    VK_DWORD XferState;
    VK_WORD Command;
    VK_BYTE StructType;
    VK_BYTE FwIdx;
    VK_WORD Size;
    VK_WORD SenderSize;
    VK_DWORD SenderFibAddress;
    VK_DWORD SenderFibAddressHigh;
    VK_DWORD Handle;
    VK_DWORD Next;
    VK_DWORD Previous;
};

struct SIS_FIB {
    FIB2_HEADER Header;
    VK_BYTE data[kFibDataSize];
};

struct SIS_REVISION {
    VK_BYTE dash;
    VK_BYTE type;
    VK_BYTE minor;
    VK_BYTE major;
    VK_DWORD buildNumber;
};

struct ADAPTER_INFO_STRUCT {
    VK_DWORD PlatformBase;
    VK_DWORD CpuArchitecture;
    VK_DWORD CpuVariant;
    VK_DWORD ClockSpeed;
    VK_DWORD ExecutionMem;
    VK_DWORD BufferMem;
    VK_DWORD TotalMem;
    SIS_REVISION KernelRevision;
    SIS_REVISION MonitorRevision;
    SIS_REVISION HardwareRevision;
    SIS_REVISION BIOSRevision;
    VK_DWORD ClusteringEnabled;
    VK_DWORD ClusterChannelMask;
    VK_DWORD SerialNumber[2];
    VK_DWORD batteryPlatform;
    VK_DWORD SupportedOptions;
    VK_DWORD OemVariant;
};

struct SIS_VPD_INFO {
    char AssemblyPn[8];
    char FruPn[8];
    char BatteryFruPn[8];
    char EcVersionString[8];
    char Tsid[12];
};

struct ADAPTER_SUPPLEMENT_INFO_STRUCT {
    char AdapterTypeText[20];
    VK_DWORD FlashMemoryByteSize;
    VK_DWORD FlashImageId;
    VK_DWORD MaxNumberPorts;
    VK_DWORD Version;
    VK_DWORD FeatureBits;
    VK_BYTE SlotNumber;
    VK_BYTE BootPatchDevice;
    VK_BYTE BootCFGVerLoaded;
    VK_BYTE BootCFGVerInFlash;
    char BuildDate[12];
    VK_DWORD CurrentNumberPorts;
    SIS_VPD_INFO VpdInfo;
    char FlashFirmwareRevision[8];
    VK_DWORD RaidTypeMorphOptions;
    char FlashFirmwareBootRevision[8];
    char MfgPcbaSerialNo[12];
    char MfgWWNName[8];
    VK_DWORD SupportedOptions2;
    VK_DWORD structExpansion;
    VK_DWORD FeatureBits3;
    VK_DWORD SupportedPerformanceModes;
    VK_BYTE HostBusType;
    VK_BYTE HostBusWidth;
    VK_WORD HostBusSpeed;
    VK_BYTE MaxRRCDrives;
    VK_BYTE MaxDiskXtasks;
    VK_BYTE CpldVerLoaded;
    VK_BYTE CpldVerInFlash;
    VK_QWORD MaxRRCCapacity;
    VK_DWORD CompiledMaxHistLogLevel;
    char CustomBoardName[12];
    VK_WORD SupportedCntlrMode;
    VK_WORD ReservedForFuture16;
    VK_DWORD SupportedOptions3;
    VK_WORD VirtualScsiDeviceBus;
    VK_WORD VirtualScsiDeviceTarget;
    VK_WORD VirtualScsiDeviceLUN;
    VK_RESERVED Reserved[274];
};

// Discovery workers.
VK_DWORD __ProcessDriver(const char* driver_name, size_t driver_name_size, VK_WORD protocol_type,
                         DeviceDescriptorList list, VK_DWORD count);
VK_BOOL __GetSCSINodePath(const char* sysfs_path, size_t sysfs_path_size, VK_WORD protocol_type, char* node,
                          size_t node_size);
VK_BOOL __GetXOVNodeName(const char* sysfs_path, char* node, size_t node_size);
VK_BOOL __GetSISAdapterInfo(const char* node, VK_BYTE* protocol_address, size_t protocol_address_size);
VK_BOOL __SendFIB2(int handle, SIS_FIB* fib, VK_DWORD* error);

// Device-node primitives of every transport. Each returns 0 or the system error number.
VK_DWORD _PN_OpenDeviceNode(const char* node_name, int* handle, VK_BOOL read_only);
void _PN_CloseDeviceNode(int handle);
VK_DWORD _PN_SendIOCTL(int handle, unsigned long request, void* parameter);

#endif
