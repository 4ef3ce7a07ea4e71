/* Creates a RAID 1 logical drive on controller 1's unassigned drives through an editable
 * configuration and commits it, through the libraries' C API. Run it as root; on a machine without
 * controllers, run it on the simulated host:
 *   qvsim --scenario sim/scenarios/mirror_two_unassigned.json -- ./create_mirror
 * It prints each answer the library gives and exits 0 only when the commit succeeded and the new
 * drive reads back as a mirror of the staged size on the drives it was given. Starting the
 * libraries, the commit and the re-read are in example_common.h beside it.
 */
#include <stdio.h>

#include "example_common.h"

#define kNone 0xFFFF
/* Two drives make a mirror; more would be RAID 10 under the same level code. */
#define kMirrorDrives 2

static const char* raid_name(VK_BYTE level) {
    switch (level) {
        case kRAID0:
            return "RAID 0";
        case kRAID1:
            return "RAID 1";
        case kRAID10:
            return "RAID 10";
        case kRAID5:
            return "RAID 5";
        case kRAID6:
            return "RAID 6";
        default:
            return "other";
    }
}

static int create_mirror(PCDA cda) {
    VK_BYTE status = VK_CreateEditableConfiguration(cda);
    if (status != kCreateEditableConfigOK) {
        printf("create editable configuration: refused (%u)\n", (unsigned)status);
        return 1;
    }
    VK_WORD array = VK_CreateEditableArray(cda);
    if (array == kNone) {
        printf("create array: refused (%u)\n", (unsigned)VK_CanCreateEditableArray(cda));
        goto out;
    }
    printf("create array: %u\n", (unsigned)array);

    /* The drives a new array can take are the unassigned ones. */
    VK_WORD drives[kMirrorDrives];
    size_t count = 0;
    printf("addable drives:");
    for (VK_WORD pd = VK_EnumerateEditableArrayAddablePhysicalDrives(cda, array, kNone); pd != kNone;
         pd = VK_EnumerateEditableArrayAddablePhysicalDrives(cda, array, pd)) {
        printf(" %u", (unsigned)pd);
        if (count < kMirrorDrives) {
            drives[count++] = pd;
        }
    }
    printf("\n");
    if (count < kMirrorDrives) {
        printf("a mirror needs %u drives\n", (unsigned)kMirrorDrives);
        goto out;
    }
    status = VK_CanAddEditableArrayDataDrives(cda, array, drives, count, kExpandTypeAuto);
    if (status != kCanAddEditableArrayDataDrivesOK ||
        VK_AddEditableArrayDataDrives(cda, array, drives, count, kExpandTypeAuto) !=
            kAddEditableArrayDataDrivesOK) {
        printf("add data drives %u %u: refused (%u)\n", (unsigned)drives[0], (unsigned)drives[1],
               (unsigned)status);
        goto out;
    }
    printf("add data drives %u %u: staged\n", (unsigned)drives[0], (unsigned)drives[1]);

    VK_WORD ld = VK_CreateEditableLogicalDrive(cda);
    if (ld == kNone) {
        printf("create logical drive: refused (%u)\n", (unsigned)VK_CanCreateEditableLogicalDrive(cda));
        goto out;
    }
    printf("create logical drive: %u\n", (unsigned)ld);

    status = VK_CanSetEditableLogicalDriveArray(cda, ld, array);
    if (status != kCanSetEditableLogicalDriveArrayOK ||
        VK_SetEditableLogicalDriveArray(cda, ld, array) != kSetEditableLogicalDriveArrayOK) {
        printf("set array %u: refused (%u)\n", (unsigned)array, (unsigned)status);
        goto out;
    }
    printf("set array %u: staged\n", (unsigned)array);

    /* A mirror has no parity groups; the last argument asks for the default strip and the largest
     * size the array leaves. */
    status = VK_CanSetEditableLogicalDriveRAIDLevel(cda, ld, kRAID1, 0);
    if (status != kCanSetEditableLogicalDriveRAIDLevelOK ||
        VK_SetEditableLogicalDriveRAIDLevel(cda, ld, kRAID1, 0, kTrue) !=
            kSetEditableLogicalDriveRAIDLevelOK) {
        printf("RAID 1 with default strip and largest size: refused (%u)\n", (unsigned)status);
        goto out;
    }
    printf("RAID 1 with default strip and largest size: staged\n");
    VK_QWORD staged_blocks = 0;
    status = VK_GetEditableLogicalDriveSize(cda, ld, kLogicalDriveSizeBlocks, &staged_blocks);
    if (status != kGetEditableLogicalDriveSizeOK) {
        printf("staged size: unknown (%u)\n", (unsigned)status);
        goto out;
    }
    printf("staged size: %llu blocks\n", (unsigned long long)staged_blocks);

    status = VK_CanLockEditableLogicalDrive(cda, ld);
    if (status != kCanLockEditableLogicalDriveOK ||
        VK_LockEditableLogicalDrive(cda, ld) != kLockEditableLogicalDriveOK) {
        printf("lock: refused (%u)\n", (unsigned)status);
        goto out;
    }
    printf("lock: staged\n");

    if (example_commit(cda) != kCommitEditableConfigurationOK) {
        goto out;
    }

    /* The committed drive as the controller now reports it. */
    if (!example_reread(cda)) {
        return 1;
    }
    VK_WORD raid = VK_GetLogicalDriveRAIDInfo(cda, ld);
    VK_QWORD blocks = VK_GetLogicalDriveSize(cda, ld, kLogicalDriveSizeBlocks);
    VK_BYTE level = (VK_BYTE)(raid & 0xFF);
    printf("logical drive %u read back: RAID level %u (%s), %llu blocks\n", (unsigned)ld, (unsigned)level,
           raid_name(level), (unsigned long long)blocks);
    VK_WORD live_array = VK_GetLogicalDriveArray(cda, ld);
    size_t members = 0;
    int same_drives = 1;
    printf("array %u read back, data drives:", (unsigned)live_array);
    for (VK_WORD pd = VK_EnumerateArrayDataDrives(cda, live_array, kNone); pd != kNone;
         pd = VK_EnumerateArrayDataDrives(cda, live_array, pd)) {
        printf(" %u", (unsigned)pd);
        same_drives = same_drives && members < kMirrorDrives && drives[members] == pd;
        ++members;
    }
    printf("\n");
    return level == kRAID1 && blocks == staged_blocks && same_drives && members == kMirrorDrives ? 0 : 1;

out:
    /* A refused step or commit keeps the staged configuration; a finished commit has dropped it. */
    VK_DestroyEditableConfiguration(cda);
    return 1;
}

int main(void) {
    return example_run_on_controller_1(create_mirror);
}
