// The command table, dispatch, argument validation and help. The help texts are user documentation:
// wording, spacing and the "\n\r" separators are part of the output.
#include "cli.h"

#include <cstdio>
#include <cstring>

#include "bmic.h"
#include "buildnum.h"
#include "externs.h"

// clang-format off
const HELP_INFORMATION HelpInfoT[] = {
    {"verifyfwversion",
     "quorvel verifyfwversion <ControllerNumber>",
     "This test verifies the controller firmware is programmed correctly",
     "quorvel verifyfwversion 1",
     "Firmware version verification test: PASS (eValue: 1.32/aValue: 1.32)"},
    {"verifysystempower",
     "quorvel verifysystempower <ControllerNumber>",
     "This test verifies if the controller is operating normally",
     "quorvel verifysystempower 2",
     "Powermode verification test : FAIL PowerMode Warning : RebootRequired\n\r Powermode verification test : FAIL PowerModeWarning NewMode\n\r Powermode verification test : FAIL PowerModeWarning RebootPower"},
    {"verifysystemtemperature",
     "quorvel verifysystemtemperature <ControllerNumber>",
     "This verifies if the controller is operating within the temperature limit(s)",
     "quorvel verifysystemtemperature 2",
     "Controller temperature verification test : Temperature Sensor index 0 - PASS\n\r Sensor Index - 0: Expected Minimum Temp : 5 Expected Maximum Temp : 85 Current Temp : 51\n\r -------------------------------------------------------------------------------------\n\r Controller temperature verification test : Temperature Sensor index 1 - PASS\n\r Sensor Index - 1 : Expected Minimum Temp : 55 Expected Maximum Temp : 90 Current Temp : 69\n\r -------------------------------------------------------------------------------------"},
    {"verifymfg",
     "quorvel verifymfg <ControllerNumber>",
     "This test verifies if the controller's manufacturing section is programmed correctly",
     "quorvel verifymfg 1",
     "Manufacturing section verification test - PASS"},
    {"verifycachesize",
     "quorvel verifycachesize <ControllerNumber>",
     "This test verifies the controller's cache size",
     "quorvel verifycachesize 2",
     "Cache size verification test: PASS (eValue: 3856/aValue: 3856)"},
    {"verifypcieconfig",
     "quorvel verifypcieconfig <ControllerNumber>",
     "This test validates the PCIe link width & link speed",
     "quorvel verifypcieconfig 2",
     "PCIe Link Speed test: FAIL (eValue: 2/aValue: 1)\n\r PCIe Link Width test : FAIL(eValue : 8 / aValue : 4)"},
    {"verifycpld",
     "quorvel verifycpld <ControllerNumber>",
     "Verify CPLD test forces the controller to auto-flash the on-board CPLD device with the image found in the active ROM",
     "quorvel verifycpld 1",
     "CPLD Programming Verification test : - PASS"},
    {"getcacheinfo",
     "quorvel getcacheinfo <ControllerNumber>",
     "Displays information related to the cache module.",
     "quorvel getcacheinfo 3",
     "Cache information\n\r ControllerMemorySize : 4096 MB\n\r ControllerCacheSize  : 3856 MB"},
    {"getfwmiscinfo",
     "quorvel getfwmiscinfo <ControllerNumber>",
     "Displays information related to the firmware programmed on the controller",
     "quorvel getfwmiscinfo 2",
     "ProductIdBuffer        : 7391 - 8i16e\n\r FirmwareVersion        : 1.59\n\r PendingFirmwareVersion : 1.59\n\r VendorIDBuffer         : Morvane\n\r HardwareRevision       : A"},
    {"getpcieinfo",
     "quorvel getpcieinfo <ControllerNumber>",
     "Displays information about PCIe link width & link speed",
     "quorvel getpcieinfo 1",
     "PCIeGen       : 3\n\r PCIewidth     : 8"},
    {"getctrlstatusinfo",
     "quorvel getctrlstatusinfo <ControllerNumber>",
     "Displays information about the status of the controller",
     "quorvel getctrlstatusinfo 1",
     "Controller Status        : Good\n\r Cache Status             : Not Configured\n\r Controller Config Status : Good"},
    {"getbackuppowerstatus",
     "quorvel getbackuppowerstatus <ControllerNumber>",
     "Displays the status of the backup power source",
     "quorvel getbackuppowerstatus 2",
     "Backup Power Source Status : PresentAndCharged"},
    {"cachetest",
     "quorvel cachetest <ControllerNumber> <iteration>\n\r quorvel cachetest <ControllerNumber> lfsrfill <iteration>\n\r quorvel cachetest <ControllerNumber> patternfill <iteration>\n\r quorvel cachetest <ControllerNumber> walkingones <iteration>\n\r quorvel cachetest <ControllerNumber> walkingzeros <iteration>\n\r quorvel cachetest <ControllerNumber> datainversion <iteration>",
     "This test verifies the cache module used to store data to & from the hard drives.\n\r The LFSR fill cache test checks the DRAM using a LFSR (pseudo random data) pattern by using the DMA engine to fill & verify the data.\n\r The Pattern fill cache test checks the DRAM using a 16-byte pattern 0x5a5a5a5a55555555aaaaaaaa12345678 by using the DMA engine to fill & verify the pattern.\n\r The walking ones cache test checks the DRAM using a \"1\" bit on each byte while the other bits are bounced high & low by the DMA engine to fill & verify the data. The bit is then shifted through each byte to confirm each bit can hold a \"1\" value.\n\r The walking zeros cache test checks the DRAM using a \"0\" bit on each byte while the other bits are bounced high & low by the DMA engine to fill & verify the data. The bit is then shifted through each byte to confirm each bit can hold a \"0\" value.\n\r The data inversion cache test checks the DRAM using each of the bounce patterns in the following list by using the DMA engine to fill & verify the data.",
     "quorvel cachetest 2 10\n\r quorvel cachetest 2 lfsrfill 30\n\r quorvel cachetest 2 patternfill 12\n\r quorvel cachetest 2 walkingones 50\n\r quorvel cachetest 2 walkingzeros 75\n\r quorvel cachetest 2 datainversion 40",
     "CacheTest : LFSR Cache Fill ctrlNum: 2, iteration 1\n\r Result: Iteration: 1 PASS - No Error\n\r CacheTest : Pattern Fill ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r CacheTest : Walking Ones ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r CacheTest : Walking Zeros ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r CacheTest : Data Inversion ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error"},
    {"memorytest",
     "quorvel memorytest <ControllerNumber> <iteration>\n\r quorvel memorytest <ControllerNumber> movinginversionlong <iteration>\n\r quorvel memorytest <ControllerNumber> movinginversionturbo <iteration>\n\r quorvel memorytest <ControllerNumber> movinginversionfbt <iteration>\n\r quorvel memorytest <ControllerNumber> getcorrectedecccount <iteration>",
     "This test verifies the memory used to store the firmware CPU instructions.\n\r The moving inversion long test checks each memory location of the controller's available system RAM or on the entire system RAM.The test performs a write / read / compare operation on double words.It inverts each bit of each byte one at a time from all zeros to all ones and back to zero again.It makes two passes.The address is incremented on the first pass from start to end of memory, and on the second pass decrements the address from end to start.\n\r The moving inversion turbo test checks every four double-word memory locations. The test performs a write/read/compare operation on double words. It inverts each bit of each byte one at a time from all zeros to all ones and back to zero again. It makes two passes. The address is incremented on the first pass from start to end of memory, and on the second pass decrements the address from end to start.\n\r The moving inversion FBT test checks each double word in the controller's available system DRAM by performing a write/read/compare using the following patterns:\n\r 1. The address\n\r 2. The complement address\n\r 3. The mirror address\n\r 4. The complement mirror address.\n\r Get Corrected ECC Count returns back an error if corrected ECC occurred. Reading this value will clear the counter.",
     "quorvel memorytest 2 25\n\r quorvel memorytest 1 movinginversionlong 15\n\r quorvel memorytest 1 movingiversionturbo 30\n\r quorvel memorytest 1 movingiversionfbt 35\n\r quorvel memorytest 1 getcorrectedecccount 5",
     "MemoryTest : Moving Inversion Long ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r MemoryTest : Moving Inversion Turbo ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r MemoryTest : Moving Inversion FBT ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r MemoryTest : Get Corrected ECC Count ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error"},
    {"dataretentiontest",
     "quorvel dataretentiontest <ControllerNumber> datafill\n\r quorvel dataretentiontest <ControllerNumber> dataverify",
     "This test validates the circuits needed to perform a data retention cycle.Data retention will fail if the backup power source is not fully charged.\n\r If the backup power source is present and charged, the data retention data fill test enables the backup power source and fills the cache with LFSR data.\n\r The data retention verify test verifies the data in the cache following a data retention data fill.",
     "quorvel dataretentiontest 2 datafill\n\r quorvel dataretentiontest 2 dataverify",
     "Backup Power Source Status : PresentAndCharged\n\r Result : Iteration: 1 PASS - No Error\n\r Backup Power Source Status : PresentAndCharged\n\r Result : Iteration: 1 PASS - No Error"},
    {"mramtest",
     "quorvel mramtest <ControllerNumber> datafill\n\r quorvel mramtest <ControllerNumber> dataverify",
     "This test validates if the NVRAM is operating normally",
     "quorvel mramtest 2 datafill\n\r quorvel mramtest 2 dataverify",
     "MRAM Test Data Fill - PASS\n\r MRAM Test Data Verify - PASS"},
    {"sastest",
     "quorvel sastest <ControllerNumber> <iteration>\n\r quorvel sastest <ControllerNumber> wrrdcomp <iteration>\n\r quorvel sastest <ControllerNumber> longwrrdcomp <iteration>",
     "This test perform SAS or SATA disk read/write test manufacturing diagnostic application will issue pass-thru requests to all drives attached to the controller.\n\r The wrrdcomp sas test performs 25 iterations of Write/Read/Compare using all drives as targets. In the W/R/C test, the write buffer is filled with 8 KiB of the Jitter Tolerance Pattern (JTPAT) and random data.\n\r The longwrrdcomp sas test performs 1000 iterations of Write/Read/Compare using all drives as targets.",
     "quorvel sastest 2 5\n\r quorvel sastest 2 wrrdcomp 10\n\r quorvel sastest 2 longwrrdcomp 15",
     "SasTest : Write Read Compare: ctrlNum : 2, iteration 1\n\r Result : Iteration: 1 PASS - No Error\n\r SasTest : Long Write Read Compare: ctrlNum : 2, iteration 1\n\r Result : Iteration: 1 PASS - No Error"},
    {"saspatterntest",
     "quorvel saspatterntest <ControllerNumber> <iteration>\n\r quorvel saspatterntest <ControllerNumber> jtpat <iteration>\n\r quorvel saspatterntest <ControllerNumber> random <iteration>\n\r quorvel saspatterntest <ControllerNumber> jtpatrandom <iteration>\n\r quorvel saspatterntest <ControllerNumber> d10.2hfreq <iteration>\n\r quorvel saspatterntest <ControllerNumber> jtpatd10.2hfreq <iteration>",
     "This test perform SAS or SATA disk read/write test manufacturing diagnostic application will issue pass-thru requests to all drives attached to the controller using selected pattern.\n\r The jtpat sas pattern test uses the Jitter Tolerance Pattern (JTPAT) as the pattern.\n\r The random sas pattern test uses a random pattern.\n\r The jtpatrandom sas pattern test uses the JTPAT and a random pattern.\n\r The d10.2hfreq sas pattern test uses a D10.2 high frequency pattern.\n\r The jtpatd10.2hfreq sas pattern test uses the JTPAT and the D10.2 pattern.",
     "quorvel saspatterntest 2 10\n\r quorvel saspatterntest 2 jtpat 30\n\r quorvel saspatterntest 2 random 12\n\r quorvel saspatterntest 2 jtpatrandom 50\n\r quorvel saspatterntest 2 d10.2hfreq 75\n\r quorvel saspatterntest 2 jtpatd10.2hfreq 40",
     "SasPatternTest : JTPAT: ctrlNum: 2, iteration 1\n\r Result: Iteration: 1 PASS - No Error\n\r SasPatternTest : Random: ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r SasPatternTest : JTPAT Random: ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r SasPatternTest : D10.2 HIGH FREQ: ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error\n\r SasPatternTest : JTPAT D10.2 HIGH FREQ: ctrlNum : 2, iteration 1\n\r Result : Iteration : 1 PASS - No Error"},
    {"version",
     "quorvel version",
     "Displays the version of the utility",
     "quorvel version",
     "Quorvel Version = 3.5.9"},
    {"help",
     "quorvel help [cmdName]",
     "Displays the help menu.",
     "quorvel help\n\r quorvel help verifyfwversion\n\n\r",
     nullptr},
    {"listcontrollers",
     "quorvel listcontrollers",
     "Displays the controllers that are discovered by the utility",
     "quorvel listcontrollers",
     "Found 4 controller(s)\n\r  1 : ZOLT VeskRAID 7391 - 16i\n\r  2 : ZOLT VeskRAID 7391 - 8i16e\n\r  3 : ZOLT VeskHBA 8462 - 8i\n\r  4 : ZOLT HBA 5937 - 8i"},
    {"showdrives",
     "quorvel showdrives <ControllerNumber>",
     "Displays the list of physical drives connected to the requested controller",
     "quorvel showdrives 1",
     "Drives connected to the requested controller\n\r -------------------------------------------------------------------------------------------------\n\r Index:1, Port:Box:Bay CN1:1:4, Drive status level:Informational:Exposed to OS, Is drive usable:Yes\n\r Index:1, Port:Box:Bay CN1:1:5, Drive status level:Informational:Exposed to OS, Is drive usable:Yes"},
    {"showctrlphyerrors",
     "quorvel showctrlphyerrors <ControllerNumber>",
     "Displays PHY errors of the requested controller",
     "quorvel showctrlphyerrors 1",
     "Controller Model : ZOLT VeskHBA 5937 - 4i\n\r PHY Identifier 0\n\r   Invalid DWORD count           - 0\n\r   Loss of DWORD sync count      - 0\n\r   PHY reset problem count       - 0\n\r   Running disparity error count - 0\n\r PHY Identifier 1\n\r   Invalid DWORD count           - 0\n\r   Loss of DWORD sync count      - 0\n\r   PHY reset problem count       - 0\n\r   Running disparity error count - 0\n\r PHY Identifier 2\n\r   Invalid DWORD count           - 0\n\r   Loss of DWORD sync count      - 0\n\r   PHY reset problem count       - 0\n\r   Running disparity error count - 0\n\r PHY Identifier 3\n\r   Invalid DWORD count           - 0\n\r   Loss of DWORD sync count      - 0\n\r   PHY reset problem count       - 0\n\r   Running disparity error count - 0"},
    {"ctrlledtest",
     "quorvel ctrlledtest <ControllerNumber> <iteration>",
     "This test will blink the controller LED five seconds per iteration for the number of iterations specified",
     "quorvel ctrlledtest 1 1",
     "ControllerLedTest : ctrlNum: 1, iteration 1\n\r Result: Iteration: 1 PASS - No Error"},
    {"fwdiagrevision",
     "quorvel fwdiagrevision <ControllerNumber>",
     "Displays the firmware diag revision",
     "quorvel fwdiagrevision 1",
     "Firmware Diag Revision = 5.1.89"},
    {"sobmessagecounters",
     "quorvel sobmessagecounters <ControllerNumber>",
     "Displays the Alerts, Errors and Warnings that controller has kept track off",
     "quorvel sobmessagecounters 1",
     "SOB Message Counters\n\r  Alerts   = 1\n\r  Errors   = 0\n\r  Warnings = 1\n\r *****************************************************************************\n\r ALERT: Cache signature does not match expected value!\n\r WARNING: Backup power: msg type =0x200 msg status - 0x20d [Powersource self-test started]"},
    {"pcieintegritytest",
     "quorvel pcieintegritytest <ControllerNumber>",
     "This test verifies PCIe integrity by checking the PCIe link errors",
     "quorvel pcieintegritytest 1",
     "PCIe Integrity test - PASS"},
    {"testunitready",
     "quorvel testunitready <ControllerNumber>",
     "This test will send SCSI test unit ready command to all physical drives connected to the requested controller and displays whether command executed successfully or not",
     "quorvel testunitready 1",
     "Drive Number:0, Connector Index:1, Port:Box:Bay CN0:1:1, Test Command Execution:SUCCESS"},
    {"saslinkratetest",
     "quorvel saslinkratetest <ControllerNumber>",
     "This test validates that the SAS links on the controller or HBA are all linked up and negotiated to the expected link rate",
     "quorvel saslinkratetest 1",
     "PdNumber : 4, Port:Box:Bay CN1:1:4, Drive Max Transfer Speed: 6.0 Gbps, PHY Negotiated Transfer Speed: 6.0 Gbps, Result:PASS"},
    {"--set-sn=",
     "quorvel --set-sn=<SerialNumber> <ControllerNumber>",
     "This command will modify controller serial number.\n\r Valid input considered are alphanumeric ASCII characters which does not exceed 15 characters in length.",
     "quorvel --set-sn=0151F300139 1",
     "Set Controller serial number result : SUCCESS\n\r A reboot will be required for all new values to take effect."},
    {"--flash=",
     "quorvel --flash=<RomFile.bin> <ControllerNumber>",
     "This command will flash the controller Firmware,",
     "quorvel --flash=pelko.bin 1 ",
     "Flashing Controller : SUCCESS. \n\r A reboot will be required to activate new firmware."},
    {"--flash-mfgdata=",
     "quorvel --flash-mfgdata=<MfgData.bin> <ControllerNumber>",
     "This command will flash controller Manufacturing Data,",
     "quorvel --flash-mfgdata=MfgData.bin 1",
     "Flashing MfgData file status : SUCCESS\n\r A reboot will be required for all new values to take effect."},
    {"--flash-nvram=",
     "quorvel --flash-nvram=<SeepromFile.bin> <ControllerNumber>",
     "This command will flash SEEPROM NVRAM on entire controller,",
     "quorvel --flash-nvram=VeskIOC_8462-8i_seeprom.bin 1 ",
     "Flashing SEEPROM NVRAM status : SUCCESS. \n\r A reboot will be required for all new values to take effect."},
    {"--read-mfgdata=",
     "quorvel --read-mfgdata=<FirmwareFile.bin> <ControllerNumber>",
     "This command will read Controller Manufacturing data and save it to file provided by user,",
     "quorvel --read-mfgdata=Mfgdata.bin 1",
     "Read Controller Manufacturing Data status : SUCCESS"},
    {"--set-wwid=",
     "quorvel --set-wwid=<SeepromWWID> <ControllerNumber>",
     "This command will modify Controller Seeprom WWID.\n\r Valid input for WWID is 16 hex digits starting with 5",
     "quorvel --set-wwid= 511122223333ABCD 1",
     "Set Controller Seeprom WWID result : SUCCESS\n\r A reboot will be required for all new values to take effect."},
    {"--preserve=",
     "quorvel --preserve=<SeepromFile.bin> <ControllerNumber>",
     "This command will Preserves current Manufacturing Data while flashing SEEPROM NVRAM on controller",
     "quorvel --preserve=VeskIOC_8462-8i_seeprom.bin 1",
     "Get Manufacturing Data : SUCCESS\n\r Flashing entire SEEPROM NVRAM of Controller : SUCCESS\n\r A reboot will be required for changes to take effect.\n\r Set Manufacturing Data : SUCCESS\n\r Preserve Current Manufacturing Data of the Controller : SUCCESS\n\r A reboot will be required for changes to take effect."},
    {"", "", "", "", nullptr},
};
// clang-format on

// ---- Command table, dispatch and argument validation --------------------------------------------

// Every command of the tool has its row; a keyword found in no row answers as an unknown command.
const CLI_COMMAND_TABLE cliCommandT[] = {
    {"verifyfwversion", Cli_VerifyFwVer, "Verifies Fw Version", "quorvel verifyfwversion <ControllerNumber>"},
    {"verifysystempower", Cli_VerifySystemPower, "Verifies Power Mode information",
     "quorvel verifysystempower <ControllerNumber>"},
    {"verifysystemtemperature", Cli_VerifySystemTemperature, "Verifies temperature sensor information",
     "quorvel verifysystemtemperature <ControllerNumber>"},
    {"verifymfg", Cli_VerifyMfg, "Verifies MFG section", " quorvel verifymfg <ControllerNumber>"},
    {"verifycachesize", Cli_VerifyCacheSize, "Verifies Cache size", "quorvel verifycachesize <ControllerNumber>"},
    {"verifypcieconfig", Cli_VerifyPCIeConfig, "Verify PCIe configuration",
     "quorvel verifypcieconfig <ControllerNumber>"},
    {"verifycpld", Cli_VerifyCpld, "Verifies CPLD section", "quorvel verifycpld <ControllerNumber>"},
    {"getcacheinfo", Cli_GetCacheInfo, "Show controller cache info", "quorvel getcacheinfo <ControllerNumber>"},
    {"getfwmiscinfo", Cli_GetFwMiscInfo, "Gets Fw Misc Info", "quorvel getfwmiscinfo <ControllerNumber>"},
    {"getpcieinfo", Cli_GetPcieInfo, "Gets PCIe Information", "quorvel getpcieinfo <ControllerNumber>"},
    {"getctrlstatusinfo", Cli_GetControllerStatusInfo, "Gets controller status info",
     "quorvel getctrlstatusinfo <ControllerNumber>"},
    {"getbackuppowerstatus", Cli_GetBackupPowerSourceStatusInfo, "Get controller backup power source status info",
     "quorvel getbackuppowerstatus <ControllerNumber>"},
    {"cachetest", Cli_CacheTest, "Executes cache tests. Valid iteration values 1-100",
     " quorvel cachetest <ControllerNumber> <iteration> \n\r quorvel cachetest <ControllerNumber> lfsrfill "
     "<iteration> \n\r quorvel cachetest <ControllerNumber> patternfill <iteration> \n\r quorvel cachetest "
     "<ControllerNumber> walkingones <iteration> \n\r quorvel cachetest <ControllerNumber> walkingzeros "
     "<iteration> \n\r quorvel cachetest <ControllerNumber> datainversion <iteration>"},
    {"memorytest", Cli_MemoryTest, "Executes memory tests. Valid iteration values 1-100",
     " quorvel memorytest <ControllerNumber> <iteration> \n\r quorvel memorytest <ControllerNumber> "
     "movinginversionlong <iteration> \n\r quorvel memorytest <ControllerNumber> movinginversionturbo "
     "<iteration> \n\r quorvel memorytest <ControllerNumber> movinginversionfbt <iteration> \n\r quorvel "
     "memorytest <ControllerNumber> getcorrectedecccount <iteration>"},
    {"dataretentiontest", Cli_DataRetentionTest,
     "Execute data retention test sequence: 1) data fill 2)dirty shutdown(manual) 3)data verify after next reboot",
     " quorvel dataretentiontest <ControllerNumber> datafill \n\r quorvel dataretentiontest <ControllerNumber> "
     "dataverify"},
    {"mramtest", Cli_MramTest,
     "Executes MRAM test sequence: 1) data fill 2)power cycle 3)data verify after next reboot",
     " quorvel mramtest <ControllerNumber> datafill \n\r quorvel mramtest <ControllerNumber> dataverify"},
    {"sastest", Cli_SasTest, "Executes SAS tests. Valid iteration values 1-100",
     " quorvel sastest <ControllerNumber> <iteration> \n\r quorvel sastest <ControllerNumber> wrrdcomp "
     "<iteration> \n\r quorvel sastest <ControllerNumber> longwrrdcomp <iteration>"},
    {"saspatterntest", Cli_SasPatternTest, "Executes SAS Pattern tests. Valid iteration values 1-100",
     " quorvel saspatterntest <ControllerNumber> <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
     "jtpat <iteration> \n\r quorvel saspatterntest <ControllerNumber> random <iteration> \n\r quorvel "
     "saspatterntest <ControllerNumber> jtpatrandom <iteration> \n\r quorvel saspatterntest "
     "<ControllerNumber> d10.2hfreq <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
     "jtpatd10.2hfreq <iteration>"},
    {"pcieintegritytest", Cli_PcieIntegrityTest, "This test verifies PCIe Integrity by checking PCIe link errors",
     " quorvel pcieintegritytest <ControllerNumber>"},
    {"version", Cli_ShowVersion, "Displays Quorvel version", "quorvel version"},
    {"help", Cli_ShowHelp, "Help Menu Options", "quorvel help [cmdName]"},
    {"listcontrollers", Cli_ListControllers, "Displays the list of connected controller(s)",
     "quorvel listcontrollers"},
    {"showdrives", Cli_ShowDrives, "Displays the list of drives connected to the requested controller",
     "quorvel showdrives <ControllerNumber>"},
    {"showctrlphyerrors", Cli_ShowCtrlPHYErrors, "Displays the PHY errors of requested controller",
     "quorvel showctrlphyerrors <ControllerNumber>"},
    {"ctrlledtest", Cli_ControllerLedTest,
     "This test will blink the controller LED five seconds per iteration for the number of iterations "
     "specified",
     "quorvel ctrlledtest <ControllerNumber> <iteration>"},
    {"fwdiagrevision", Cli_FWDiagRevision, "This test will display the firmware diagnostic revision",
     "quorvel fwdiagrevision <ControllerNumber>"},
    {"sobmessagecounters", Cli_SOBMessageCounters,
     "This test will display the number of Alerts, Errors and Warnings that controller has kept track off",
     "quorvel sobmessagecounters <ControllerNumber>"},
    {"saslinkratetest", Cli_SASLinkRateTest,
     "This test validates that the SAS links on the controller or HBA are all linked up and negotiated to the "
     "expected link rate",
     "quorvel saslinkratetest <ControllerNumber>"},
    {"testunitready", Cli_TestUnitReady,
     "This test will send SCSI test unit ready command to all physical drives connected to the requested "
     "controller",
     "quorvel testunitready <ControllerNumber>"},
    {"--set-sn=", Cli_SetSerialNumber, "Modify Controller serial number",
     "quorvel --set-sn=<SerialNumber(0-14 ASCII characters)> <ControllerNumber>"},
    {"--flash=", Cli_FlashRomImage, "Flashes the Controller Firmware",
     "quorvel --flash=<FirmwareFile.bin> <ControllerNumber>"},
    {"--flash-mfgdata=", Cli_FlashMFGData, "Flashes the Controller Manufacturing Data",
     "quorvel --flash-mfgdata=<MFGData.bin> <ControllerNumber>"},
    {"--flash-nvram=", Cli_FlashSepromNvram, "Flashes the entire SEEPROM NVRAM of Controller",
     "quorvel --flash-nvram=<SeepromFile.bin> <ControllerNumber>"},
    {"--read-mfgdata=", Cli_ReadManufacturingData, "Read Controller Manufacturing Data",
     "quorvel --read-mfgdata=<FirmwareFile.bin> <ControllerNumber>"},
    {"--set-wwid=", Cli_SetSeepromWWID, "Modify Controller Seeprom WWID",
     "quorvel --set-wwid=<SeepromWWID(16 hex string)> <ControllerNumber>"},
    {"--preserve=", Cli_PreserveCurrentManufacturingData,
     "Preserves current Manufacturing Data while flashing SEEPROM NVRAM of Controller",
     "quorvel --preserve=<SeepromFile.bin> <ControllerNumber>"},
    {"EOL", nullptr, "", ""},
};

const char* const CacheSubtests[] = {"lfsrfill",     "patternfill",   "walkingones",
                                     "walkingzeros", "datainversion", ""};
const char* const MemorySubtests[] = {"movinginversionlong", "movinginversionturbo", "movinginversionfbt",
                                      "getcorrectedecccount", ""};
const char* const SasSubtests[] = {"wrrdcomp", "longwrrdcomp", ""};
const char* const SasPatternSubtests[] = {"jtpat",      "random",          "jtpatrandom",
                                          "d10.2hfreq", "jtpatd10.2hfreq", ""};
const char* const DataFillVerify[] = {"datafill", "dataverify", ""};

namespace {

// Longest keyword prefix, "=" included, that can name a row.
constexpr size_t kMaxKeywordPrefix = 127;
// Longest row keyword that the extended help compares.
constexpr size_t kMaxExtendedHelpKeyword = 25;

const char* Arg(int index) {
    return QV_GetCommandLine().Word(index);
}

const CLI_COMMAND_TABLE* FindRow(const char* argument) {
    for (const CLI_COMMAND_TABLE* row = cliCommandT; row->cmd != nullptr; ++row) {
        if (IsArgumentForKeyword(argument, row->testName)) {
            return row;
        }
    }
    return nullptr;
}

bool InList(const char* const* list, const char* text) {
    if (text == nullptr) {
        return false;
    }
    for (; (*list)[0] != '\0'; ++list) {
        if (std::strcmp(*list, text) == 0) {
            return true;
        }
    }
    return false;
}

const char* const* SubtestList(VK_BYTE test_id) {
    switch (test_id) {
        case CLI_CACHETEST:
            return CacheSubtests;
        case CLI_MEMORYTEST:
            return MemorySubtests;
        case CLI_SASTEST:
            return SasSubtests;
        default:
            return SasPatternSubtests;
    }
}

// The checks every controller command starts with: a controller exists and the third argument names one.
VK_BYTE ValidateController() {
    if (gNumOfControllersFound == 0) {
        return QV_CMD_ARGS_NO_CTLR;
    }
    if (!IsCtlrNumValid(Arg(2))) {
        return QV_CMD_ARGS_INVALID_CTLR_NUM;
    }
    return QV_CMD_SUCCESS;
}

} // namespace

// An argument names a row when it is the keyword, or, for a keyword ending in "=", when its text up to
// and including its first "=" is the keyword.
VK_BYTE IsArgumentForKeyword(const char* argument, const char* keyword) {
    if (argument == nullptr || keyword == nullptr) {
        return 0;
    }
    if (std::strcmp(argument, keyword) == 0) {
        return 1;
    }
    const size_t keyword_length = std::strlen(keyword);
    if (keyword_length == 0 || keyword[keyword_length - 1] != '=') {
        return 0;
    }
    const char* equals = std::strchr(argument, '=');
    if (equals == nullptr) {
        return 0;
    }
    const auto prefix_length = static_cast<size_t>(equals - argument) + 1;
    return (prefix_length <= kMaxKeywordPrefix && prefix_length == keyword_length &&
            std::memcmp(argument, keyword, keyword_length) == 0)
               ? 1
               : 0;
}

const char* QV_COMMAND_LINE::Word(int index) const {
    return (words != nullptr && index >= 0 && index < count) ? words[index] : nullptr;
}

const char* QV_COMMAND_LINE::Keyword() const {
    const char* keyword = Word(1);
    return keyword != nullptr ? keyword : "";
}

const char* QV_COMMAND_LINE::Operand() const {
    const char* equals = std::strchr(Keyword(), '=');
    return equals != nullptr ? equals + 1 : "";
}

VK_UINT16 QV_COMMAND_LINE::Number(int index) const {
    VK_UINT16 value = 0;
    AtoD(Word(index), &value);
    return value;
}

const char* QV_COMMAND_LINE::CfgFileOption() const {
    const char* option = Word(count - 2);
    if (count > 3 && option != nullptr && std::strcmp(option, "-f") == 0) {
        return Word(count - 1);
    }
    return nullptr;
}

QV_COMMAND_LINE QV_GetCommandLine(void) {
    return QV_COMMAND_LINE{gArgc, gArgv};
}

VK_BYTE IsCommandValid(void) {
    return FindRow(Arg(1)) != nullptr ? 1 : 0;
}

VK_BYTE QV_CliParser(void) {
    const CLI_COMMAND_TABLE* row = FindRow(Arg(1));
    return row != nullptr ? row->cmd() : QV_CMD_ARGS_INVALID_SYNTAX;
}

VK_BYTE ValidateCmdLineArgs(VK_BYTE expected_args, VK_BYTE test_id) {
    const QV_COMMAND_LINE line = QV_GetCommandLine();
    int n = line.count;
    if (IsCmdRequiresCfgFile(Arg(1)) && line.CfgFileOption() != nullptr) {
        n -= 2;
    }
    if (n != expected_args) {
        return QV_CMD_ARGS_INVALID_SYNTAX;
    }

    VK_BYTE result = QV_CMD_SUCCESS;
    switch (test_id) {
        case CLI_VERSION:
        case CLI_HELP:
        case CLI_LISTCONTROLLERS:
            return QV_CMD_SUCCESS;

        case CLI_DATARETENTIONTEST:
        case CLI_MRAMTEST:
            if ((result = ValidateController()) != QV_CMD_SUCCESS) {
                return result;
            }
            return InList(DataFillVerify, Arg(3)) ? QV_CMD_SUCCESS : QV_CMD_ARGS_INVALID_SYNTAX;

        case CLI_CACHETEST:
        case CLI_MEMORYTEST:
        case CLI_SASTEST:
        case CLI_SASPATTERNTEST:
            if (n != 4 && n != 5) {
                return QV_CMD_ARGS_INVALID_SYNTAX;
            }
            if ((result = ValidateController()) != QV_CMD_SUCCESS) {
                return result;
            }
            if (n == 5 && !InList(SubtestList(test_id), Arg(3))) {
                return QV_CMD_ARGS_INVALID_SYNTAX;
            }
            return IsIterationNumValid(Arg(n - 1)) ? QV_CMD_SUCCESS : QV_CMD_ARGS_INVALID_ITERATION_NUM;

        case CLI_CONTROLLERLEDTEST:
            if ((result = ValidateController()) != QV_CMD_SUCCESS) {
                return result;
            }
            return IsIterationNumValid(Arg(3)) ? QV_CMD_SUCCESS : QV_CMD_ARGS_INVALID_ITERATION_NUM;

        default:
            if (test_id == CLI_TESTIDNULL || test_id > CLI_PRESERVEMANUFACTURINGDATA) {
                return QV_CMD_ARGS_INVALID_SYNTAX;
            }
            return ValidateController();
    }
}

// ---- Handlers -----------------------------------------------------------------------------------

VK_BYTE Cli_ShowVersion(void) {
    const VK_BYTE result = ValidateCmdLineArgs(2, CLI_VERSION);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    QV_ReportOut("Quorvel Version = %d.%d.%d \n", VERSION_MAJOR, VERSION_MINOR, BUILD_NUMBER);
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_ShowHelp(void) {
    const QV_COMMAND_LINE line = QV_GetCommandLine();
    if (line.count != 2 && line.count != 3) {
        return QV_CMD_ARGS_INVALID_SYNTAX;
    }
    const VK_BYTE result = ValidateCmdLineArgs(static_cast<VK_BYTE>(line.count), CLI_HELP);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    ShowHelp(Arg(2));
    return QV_CMD_SUCCESS;
}

// ---- Help displays (standard output only) -------------------------------------------------------

void ShowHelp(const char* cmd_name) {
    QV_ReportOut("Quorvel - Help Menu\n");
    if (cmd_name != nullptr) {
        for (const HELP_INFORMATION* row = HelpInfoT; row->cmdName[0] != '\0'; ++row) {
            if (std::strcmp(row->cmdName, cmd_name) == 0) {
                QV_ReportOut(" Usage: %s\n Info: %s\n Example: %s\n", row->Syntax, row->Info, row->Usage);
                if (row->SampleOutput != nullptr) {
                    QV_ReportOut(" Sample Output:\n %s\n\n", row->SampleOutput);
                }
                return;
            }
        }
        QV_ReportOut("Invalid cmdName \n");
        QV_ReportOut("Execute quorvel help for available commands \n");
        return;
    }
    for (const HELP_INFORMATION* row = HelpInfoT; row->cmdName[0] != '\0'; ++row) {
        QV_ReportOut(" Usage: %s \n\r Info: %s \n\r Example: %s", row->Syntax, row->Info, row->Usage);
        if (row->SampleOutput != nullptr) {
            QV_ReportOut("\n\r Sample Output:\n\r %s", row->SampleOutput);
            QV_ReportOut("\n\n\r");
        }
    }
    QV_ReportOut(
        "%s\n",
        "Note : For verify commands use -f <Filename/Filepath> after ControllerNumber to override default "
        "configuration file ");
    QV_ReportOut("Ex : quorvel verifyfwversion <ControllerNumber> -f <Filename/Filepath> \n\r");
}

void ShowExtendedHelp(const char* heading, const char* keyword) {
    if (heading != nullptr) {
        QV_ReportOut("%s\n", heading);
    }
    QV_ReportOut("Quorvel - Extended Help Menu \n");
    if (keyword == nullptr) {
        return;
    }
    for (const CLI_COMMAND_TABLE* row = cliCommandT; row->cmd != nullptr; ++row) {
        size_t length = std::strlen(row->testName);
        if (length > kMaxExtendedHelpKeyword) {
            length = kMaxExtendedHelpKeyword;
        }
        if (std::strncmp(keyword, row->testName, length) != 0) {
            continue;
        }
        QV_ReportOut("Syntax: %s \nInfo: %s \n", row->format, row->info);
        if (IsCmdRequiresCfgFile(keyword)) {
            QV_ReportOut(
                "%s\n",
                "Note : Use -f <Filename/Filepath> after ControllerNumber to override default configuration "
                "file ");
            QV_ReportOut("Ex : quorvel %s <ControllerNumber> -f <Filename/Filepath> \n\r", keyword);
        }
    }
}
