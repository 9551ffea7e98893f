// Asks WinVerifyTrust whether a file carries a valid Authenticode signature
// whose chain this Wine prefix trusts. Prints the result code and returns 0
// only when the answer is yes.
//   verify-trust <file>

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: verify-trust <file>\n");
        return 2;
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = argv[1];
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // Test certificates name no revocation list; nothing may be fetched.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(nullptr, &action, &data);
    std::wprintf(L"0x%08lx\n", static_cast<unsigned long>(result));
    return result == ERROR_SUCCESS ? 0 : 1;
}
