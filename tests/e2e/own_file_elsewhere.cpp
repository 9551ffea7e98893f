// A test build of QuorvaneSetup.exe that looks for its own file where none
// is: linked before the files library, this definition takes the place of the
// one in files/own_file.cpp, so the real program meets a signature it cannot read.

#include "files/signature.h"

namespace quorvane {

std::wstring OwnExecutablePath() { return L"C:\\QuorvaneOwnFileElsewhere\\QuorvaneSetup.exe"; }

}  // namespace quorvane
