// What the end-to-end suites need to see or change inside a wine prefix
// beside pellamo.exe: the current user's certificate stores (wine keeps them
// in its registry, out of the tests' reach), wine's own view of a certificate's
// key container, and a polite end of one program instance.
//
//   pellamo_win_storetool.exe list [-der]
//       one line per certificate in "MY": SHA-1, provider type (or -),
//       container (or empty), subject; with -der the DER in hex as well;
//       fields separated by tabs, UTF-8
//   pellamo_win_storetool.exe add FILE [CONTAINER PROVTYPE]
//       adds a DER certificate to "MY", linked to the key container when given
//   pellamo_win_storetool.exe clear
//       removes every certificate from "MY"
//   pellamo_win_storetool.exe acquire SHA1
//       CryptAcquireCertificatePrivateKey on that certificate of "MY": prints
//       the provider's container name (PP_CONTAINER), provider type and key spec
//   pellamo_win_storetool.exe add-crl FILE STORE [ISSUER-FILE]
//       adds a DER CRL to the current user's store STORE, and its issuer's
//       DER certificate when given
//   pellamo_win_storetool.exe revocation SHA1 [ISSUER-FILE CRL-STORE]
//       CertVerifyRevocation on that certificate of "MY" as the program asks
//       it (no revocation parameters), or with the issuer and a CRL store
//   pellamo_win_storetool.exe close DIR
//       posts WM_CLOSE to the top-level windows of every process whose current
//       folder is DIR (what the tray menu's exit does); prints their count
//   pellamo_win_storetool.exe answer-boxes
//       until ended: answers every message box of other processes as a user
//       would (OK, else No, else Cancel) and prints one line per box:
//       "box", the process's current folder, caption " :: " texts
//
// Exit status 0 on success, 1 on failure (with a line on stderr), 2 on usage.
#include <windows.h>
#include <wincrypt.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr UINT kContainerCodePage = 1251;  // the program's ANSI code page

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring fromCodePage(const char* bytes, size_t size, UINT codePage) {
    if (size == 0) return {};
    const int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(size), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(size), out.data(), n);
    return out;
}

void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

int fail(const std::string& what) {
    std::fprintf(stderr, "storetool: %s (error 0x%08lx)\n", what.c_str(), GetLastError());
    return 1;
}

std::string hex(const BYTE* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// 40 hex digits into 20 bytes; false for anything else.
bool parseSha1(const wchar_t* text, BYTE (&out)[20]) {
    if (std::wcslen(text) != 40) return false;
    for (int i = 0; i < 40; ++i) {
        const wchar_t c = text[i];
        int v;
        if (c >= L'0' && c <= L'9') v = c - L'0';
        else if (c >= L'a' && c <= L'f') v = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F') v = c - L'A' + 10;
        else return false;
        out[i / 2] = static_cast<BYTE>((i % 2) ? (out[i / 2] | v) : (v << 4));
    }
    return true;
}

bool readFile(const wchar_t* path, std::vector<BYTE>& out) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    // A certificate or CRL of the tests is small; anything past 64 MiB is a mistake.
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (64LL << 20);
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size());
    }
    CloseHandle(file);
    return ok;
}

HCERTSTORE openStore(const wchar_t* name) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
}

std::wstring subjectOf(PCCERT_CONTEXT cert) {
    const DWORD n = CertNameToStrW(kEncoding, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, nullptr, 0);
    if (n <= 1) return {};
    std::wstring out(n, L'\0');
    CertNameToStrW(kEncoding, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, out.data(), n);
    out.resize(n - 1);
    return out;
}

std::string sha1Of(PCCERT_CONTEXT cert) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size) || size != sizeof hash) return {};
    return hex(hash, size);
}

// The key container link of a certificate: "provtype\tcontainer", or "-\t".
std::string keyLinkOf(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) || size < sizeof(CRYPT_KEY_PROV_INFO)) {
        return "-\t";
    }
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) return "-\t";
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    const std::wstring container = info->pwszContainerName ? info->pwszContainerName : L"";
    return std::to_string(info->dwProvType) + "\t" + utf8(container);
}

int list(bool withDer) {
    HCERTSTORE store = openStore(L"MY");
    if (!store) return fail("cannot open MY");
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        std::string line = sha1Of(cert) + "\t" + keyLinkOf(cert) + "\t" + utf8(subjectOf(cert));
        if (withDer) line += "\t" + hex(cert->pbCertEncoded, cert->cbCertEncoded);
        print(line);
    }
    CertCloseStore(store, 0);
    return 0;
}

int add(const wchar_t* file, const wchar_t* container, const wchar_t* provType) {
    std::vector<BYTE> der;
    if (!readFile(file, der)) return fail("cannot read the certificate file");
    HCERTSTORE store = openStore(L"MY");
    if (!store) return fail("cannot open MY");
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        CertCloseStore(store, 0);
        return fail("not a certificate");
    }
    int status = 0;
    if (container) {
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = const_cast<wchar_t*>(container);
        info.dwProvType = static_cast<DWORD>(std::wcstoul(provType, nullptr, 10));
        info.dwKeySpec = AT_KEYEXCHANGE;
        if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
            status = fail("cannot link the key container");
        }
    }
    print(sha1Of(added));
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    return status;
}

int clear() {
    HCERTSTORE store = openStore(L"MY");
    if (!store) return fail("cannot open MY");
    // Deleting frees the context, so the enumeration restarts each time.
    PCCERT_CONTEXT cert;
    int removed = 0;
    while ((cert = CertEnumCertificatesInStore(store, nullptr)) != nullptr) {
        if (!CertDeleteCertificateFromStore(cert)) {
            CertCloseStore(store, 0);
            return fail("cannot delete a certificate");
        }
        ++removed;
    }
    // wine's collection store keeps a reference per deleted certificate, so
    // closing it never frees (and flushes) its registry store: commit first.
    if (removed > 0 && !CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        CertCloseStore(store, 0);
        return fail("cannot write the deletions back");
    }
    CertCloseStore(store, 0);
    print(std::to_string(removed));
    return 0;
}

// The certificate of "MY" with that SHA-1, or null (store closed by the caller).
PCCERT_CONTEXT findBySha1(HCERTSTORE store, const wchar_t* text) {
    BYTE hash[20];
    if (!parseSha1(text, hash)) return nullptr;
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    return CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
}

int acquire(const wchar_t* sha1) {
    HCERTSTORE store = openStore(L"MY");
    if (!store) return fail("cannot open MY");
    PCCERT_CONTEXT cert = findBySha1(store, sha1);
    if (!cert) {
        CertCloseStore(store, 0);
        return fail("no such certificate in MY");
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    int status = 0;
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &key, &keySpec, &callerFrees)) {
        status = fail("CryptAcquireCertificatePrivateKey failed");
    } else {
        char name[1024] = {};
        DWORD size = sizeof name - 1;
        DWORD provType = 0;
        DWORD typeSize = sizeof provType;
        if (!CryptGetProvParam(key, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0)) {
            status = fail("PP_CONTAINER failed");
        } else {
            CryptGetProvParam(key, PP_PROVTYPE, reinterpret_cast<BYTE*>(&provType), &typeSize, 0);
            const size_t length = strnlen(name, size);
            print(utf8(fromCodePage(name, length, kContainerCodePage)) + "\t" + std::to_string(provType) + "\t" +
                  std::to_string(keySpec));
        }
        if (callerFrees) CryptReleaseContext(key, 0);
    }
    CertFreeCertificateContext(cert);
    CertCloseStore(store, 0);
    return status;
}

int addCrl(const wchar_t* file, const wchar_t* storeName, const wchar_t* issuerFile) {
    std::vector<BYTE> der, issuer;
    if (!readFile(file, der)) return fail("cannot read the CRL file");
    if (issuerFile && !readFile(issuerFile, issuer)) return fail("cannot read the issuer's certificate file");
    HCERTSTORE store = openStore(storeName);
    if (!store) return fail("cannot open the store");
    const BOOL ok = CertAddEncodedCRLToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const BOOL issuerOk = !issuerFile || CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, issuer.data(),
                                                                          static_cast<DWORD>(issuer.size()),
                                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    if (!ok) return fail("not a CRL");
    return issuerOk ? 0 : fail("the issuer's file is not a certificate");
}

int revocation(const wchar_t* sha1, const wchar_t* issuerFile, const wchar_t* crlStoreName) {
    HCERTSTORE store = openStore(L"MY");
    if (!store) return fail("cannot open MY");
    PCCERT_CONTEXT cert = findBySha1(store, sha1);
    if (!cert) {
        CertCloseStore(store, 0);
        return fail("no such certificate in MY");
    }
    PCCERT_CONTEXT issuer = nullptr;
    HCERTSTORE crls = nullptr;
    CERT_REVOCATION_PARA para{};
    para.cbSize = sizeof para;
    if (issuerFile) {
        std::vector<BYTE> der;
        if (readFile(issuerFile, der)) {
            issuer = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        }
        crls = openStore(crlStoreName);
        para.pIssuerCert = issuer;
        para.hCrlStore = crls;
    }
    CERT_REVOCATION_STATUS answer{};
    answer.cbSize = sizeof answer;
    void* contexts[1] = {const_cast<CERT_CONTEXT*>(cert)};
    const BOOL ok = CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts, CERT_VERIFY_REV_CHAIN_FLAG,
                                         issuerFile ? &para : nullptr, &answer);
    char line[64];
    std::snprintf(line, sizeof line, "%s\t0x%08lx", ok ? "good" : "failed", ok ? 0UL : answer.dwError);
    print(line);
    if (issuer) CertFreeCertificateContext(issuer);
    if (crls) CertCloseStore(crls, 0);
    CertFreeCertificateContext(cert);
    CertCloseStore(store, 0);
    return 0;
}

// ------------------------------------------------------------ close

// The current folder of another process, read from its process parameters
// (the layout of RTL_USER_PROCESS_PARAMETERS on x64: CurrentDirectory.DosPath
// at 0x38). Empty when it cannot be read.
std::wstring currentFolderOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return {};
    std::wstring out;
    PROCESS_BASIC_INFORMATION basic{};
    ULONG got = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &got) == 0 && basic.PebBaseAddress) {
        PEB peb{};
        SIZE_T read = 0;
        if (ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) && read == sizeof peb &&
            peb.ProcessParameters) {
            UNICODE_STRING dosPath{};
            const auto* at = reinterpret_cast<const BYTE*>(peb.ProcessParameters) + 0x38;
            if (ReadProcessMemory(process, at, &dosPath, sizeof dosPath, &read) && read == sizeof dosPath &&
                dosPath.Buffer && dosPath.Length > 0 && dosPath.Length <= 4 * MAX_PATH && dosPath.Length % 2 == 0) {
                std::wstring text(dosPath.Length / 2, L'\0');
                if (ReadProcessMemory(process, dosPath.Buffer, text.data(), dosPath.Length, &read) && read == dosPath.Length) {
                    out = text;
                }
            }
        }
    }
    CloseHandle(process);
    return out;
}

std::wstring withoutTrailingSlash(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

struct CloseRequest {
    std::wstring folder;
    DWORD self;
    int posted = 0;
};

BOOL CALLBACK closeIfInFolder(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<CloseRequest*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == 0 || pid == request->self) return TRUE;
    if (_wcsicmp(withoutTrailingSlash(currentFolderOf(pid)).c_str(), request->folder.c_str()) == 0) {
        if (PostMessageW(window, WM_CLOSE, 0, 0)) ++request->posted;
    }
    return TRUE;
}

int closeIn(const wchar_t* folder) {
    CloseRequest request{withoutTrailingSlash(folder), GetCurrentProcessId()};
    EnumWindows(closeIfInFolder, reinterpret_cast<LPARAM>(&request));
    print(std::to_string(request.posted));
    return request.posted > 0 ? 0 : fail("no window of a process in that folder");
}

std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1023);
    return text;
}

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 255);
    return name;
}

// The caption and the static texts of a message box.
std::wstring describeBox(HWND box) {
    std::wstring texts;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM p) -> BOOL {
            if (classOf(child) == L"Static") {
                const std::wstring text = windowText(child);
                // An icon control's text is a resource ordinal (0xFFFF, id).
                if (!text.empty() && text[0] != 0xFFFF) {
                    auto* joined = reinterpret_cast<std::wstring*>(p);
                    if (!joined->empty()) *joined += L" | ";
                    *joined += text;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return windowText(box) + L" :: " + texts;
}

int answerBoxes() {
    const DWORD self = GetCurrentProcessId();
    std::vector<HWND> answered;
    for (;;) {
        std::vector<HWND> boxes;
        struct Query {
            DWORD self;
            std::vector<HWND>* found;
        } query{self, &boxes};
        EnumWindows(
            [](HWND w, LPARAM p) -> BOOL {
                auto* q = reinterpret_cast<Query*>(p);
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid != q->self && IsWindowVisible(w) && classOf(w) == L"#32770") q->found->push_back(w);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&query));
        for (HWND box : boxes) {
            bool seen = false;
            for (HWND a : answered) seen = seen || a == box;
            if (seen && IsWindow(box)) continue;  // answered, not gone yet
            DWORD pid = 0;
            GetWindowThreadProcessId(box, &pid);
            std::string line = "box\t" + utf8(withoutTrailingSlash(currentFolderOf(pid))) + "\t" + utf8(describeBox(box));
            for (char& c : line) if (c == '\n' || c == '\r') c = ' ';
            print(line);
            std::fflush(stdout);
            const int id = GetDlgItem(box, IDOK) ? IDOK : GetDlgItem(box, IDNO) ? IDNO : IDCANCEL;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
            answered.push_back(box);
        }
        // Forget the boxes that are gone (a handle may be reused later).
        std::vector<HWND> still;
        for (HWND a : answered) if (IsWindow(a)) still.push_back(a);
        answered.swap(still);
        Sleep(100);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: pellamo_win_storetool.exe list [-der] | add FILE [CONTAINER PROVTYPE] | clear | acquire SHA1 |\n"
                 "       add-crl FILE STORE [ISSUER-FILE] | revocation SHA1 [ISSUER-FILE CRL-STORE] | close DIR | answer-boxes\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    const std::wstring command = argv[1];
    if (command == L"list" && (argc == 2 || (argc == 3 && std::wcscmp(argv[2], L"-der") == 0))) return list(argc == 3);
    if (command == L"add" && (argc == 3 || argc == 5)) return add(argv[2], argc == 5 ? argv[3] : nullptr, argc == 5 ? argv[4] : nullptr);
    if (command == L"clear" && argc == 2) return clear();
    if (command == L"acquire" && argc == 3) return acquire(argv[2]);
    if (command == L"add-crl" && (argc == 4 || argc == 5)) return addCrl(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if (command == L"revocation" && (argc == 3 || argc == 5)) {
        return revocation(argv[2], argc == 5 ? argv[3] : nullptr, argc == 5 ? argv[4] : nullptr);
    }
    if (command == L"close" && argc == 3) return closeIn(argv[2]);
    if (command == L"answer-boxes" && argc == 2) return answerBoxes();
    return usage();
}
