// What the reports and verifications know of a controller, and their workers.
#ifndef CTLRINFO_H
#define CTLRINFO_H

#include <cstddef>

#include "decode.h"
#include "ppavl_types.h"
#include "ptelm_cda.h"

// Text buffer sizes of the controller's identity.
#define MAX_VENDOR_ID_LEN 9
#define MAX_FAMILY_ID_LEN 33
#define MAX_PRODUCT_ID_LEN 17
#define MAX_SERIAL_NUM_LEN 41
#define MAX_FW_VERSION_LEN 33
#define MAX_HW_REVISION_LEN 2
#define FWMISC_PRODUCT_ID_LEN 20
#define MAX_WWN_LEN 50

// Comparison kinds of QV_VerifyDisplayLogResult.
#define STRING_ARG 1
#define INTEGER_ARG 2

// Scratch record of values the reports print; only the cache sizes and the PCIe generation and
// width are filled.
typedef struct {
    struct {
        VK_UINT16 ControllermemorySize; // MB
        VK_UINT16 Totalcachesize;       // MB
    } cache;
    struct {
        VK_BYTE PCIegenversion;
        VK_UINT32 PCIenegspeed;
        VK_BYTE PCIewidth;
        VK_BOOL PCIeBusTypeSupported;
    } pci;
    struct {
        VK_UINT16 Flashsize;
        VK_UINT16 CtlrModeInfo;
        VK_UINT16 FirmBuildNo;
        VK_UINT16 FirmVersion;
        VK_UINT16 PhysicalDriveCount;
        VK_UINT16 PhysicalDriveModel;
        VK_UINT16 PhysicalDriveStatusInfo;
        VK_BOOL CtlrSupportsVeskHBA;
        VK_BOOL CtlrSupportsEncryption;
        VK_BYTE CtlrHealth;
    } configinfo;
    struct {
        VK_BOOL RebootRequired;
        VK_BOOL Temperature;
        VK_BOOL NewMode;
        VK_BOOL ConfigChange;
    } powermode;
    struct {
        VK_UINT16 TempSensorCount;
        VK_UINT16 TempSensorInfo;
        VK_UINT16 TempSensorLoc;
        VK_UINT16 TempSensorMaxReading;
        VK_UINT32 TempSensorReading;
    } temperature;
} CONTROLLER_INFO_S;

extern CONTROLLER_INFO_S ctrlInfo;

// Reports (getcmds.cpp).
void ShowControllers(void);
void QV_GetCacheInfo(PCDA cda);
void QV_GetFirmwareMiscInfo(PCDA cda);
void QV_GetPCIeInfo(PCDA cda);
// Standard output only: the status word's controller, cache and configuration lines.
void QV_GetControllerStatusInfo(PCDA cda);
// Prints "Backup Power Source Status : <status> " for the selected controller (standard output
// only) and returns the status, kControllerBackupPowerSourceFailed to ...PresentAndCharged.
VK_BYTE QV_GetBackupPowerSourceStatusInfo(void);

// Verifications (verifycmds.cpp). `expected` and `actual` are texts for STRING_ARG and point to
// 16-bit words for INTEGER_ARG.
void QV_VerifyDisplayLogResult(const void* expected, const void* actual, VK_BYTE kind, const char* name);
void QV_VerifyFwVersion(PCDA cda);
void QV_VerifySystemPowerInfo(PCDA cda);
void QV_VerifyControllerTemperatureSensorInfo(PCDA cda);
void QV_VerifyCache(PCDA cda);
// 1 with `info` filled from the controller's PCIe registers, 0 when they could not be read.
VK_BYTE QV_PCIeGetInfo(PCDA cda, PCIeLinkInfo* info);
void QV_VerifyPCIeConfig(PCDA cda);
void QV_PCIeIntegrityTest(PCDA cda);
void QV_VerifyMfg(PCDA cda);
void QV_VerifyCPLD(PCDA cda);

// Drive commands (getcmds.cpp).
#define LOCATION_BUFFER_MAXSIZE 64
#define STATUS_BUFFER_MAXSIZE 64

// SAS link-rate codes.
#define LINK_SPEED_UNKNOWN 0x00
#define LINK_SPEED_PHY_DISABLED 0x01
#define LINK_SPEED_NEGOTIATION_FAILED 0x02
#define LINK_SPEED_SATA_SPIN_UPHOLD 0x03
#define LINK_SPEED_1_5_GBPS 0x08
#define LINK_SPEED_3_0_GBPS 0x09
#define LINK_SPEED_6_0_GBPS 0x0A
#define LINK_SPEED_12_0_GBPS 0x0B
#define LINK_SPEED_22_5_GBPS 0x0C

// The name of a link-rate code; "UNKNOWN" for a code past the table.
const char* QV_LinkRateName(VK_BYTE code);
// PASS: a known speed as the drive's maximum, and the link negotiated at it.
bool QV_LinkRatePasses(VK_BYTE max_code, VK_BYTE negotiated_code);
// The level and first condition of a physical-drive status word, in `buffer`; returns `buffer`.
char* DecodePDStatus(VK_DWORD status, char* buffer, size_t size);
void ShowDrives(PCDA cda);
void TestUnitReady(PCDA cda);
void SASLinkRateTest(PCDA cda);

#endif
