// The data retention test: it runs only on a fully charged backup power source, so it starts with
// the backup power status report.
#include <cstring>

#include "bmic.h"
#include "cli.h"
#include "ctlrinfo.h"
#include "externs.h"

void QV_DiagRetentionDataFill(int ctrl_num) {
    QV_DiagRetentionAfterStatus(QV_GetBackupPowerSourceStatusInfo(), kTrue, ctrl_num);
}

void QV_DiagRetentionDataVerify(int ctrl_num) {
    QV_DiagRetentionAfterStatus(QV_GetBackupPowerSourceStatusInfo(), kFalse, ctrl_num);
}

VK_BYTE Cli_DataRetentionTest(void) {
    const VK_BYTE result = ValidateCmdLineArgs(4, CLI_DATARETENTIONTEST);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    const QV_COMMAND_LINE line = QV_GetCommandLine();
    const VK_UINT16 ctrl_num = line.Number(2);
    if (std::strcmp(line.Word(3), "datafill") == 0) {
        QV_DiagRetentionDataFill(ctrl_num);
    } else {
        QV_DiagRetentionDataVerify(ctrl_num);
    }
    return QV_CMD_SUCCESS;
}
