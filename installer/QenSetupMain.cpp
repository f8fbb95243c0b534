// The driver installer. For now it writes its banner and exit line; the
// installation steps come later on top of the shared log and the embedded-file
// extraction in its installer form.
#include "common/Log.h"

int main() {
    orvex::LogSetProgram(orvex::LogProgram::QenSetup);
    OrvexLog("Pelk Driver Install Built: Nov 22 2019 12:59:24 Version 2.00 Build 24b");
    orvex::LogExitLine();
    orvex::LogClose();
    return 0;
}
