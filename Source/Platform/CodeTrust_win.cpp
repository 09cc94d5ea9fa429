// Authenticode signatures checked by the system's trust provider. The operator's CA file is for the
// appended signatures of other systems; here the system's certificate stores decide.
#include "Platform/CodeTrust.h"

#include "Common/Log.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"

#include <string>
#include <vector>
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace Vexel
{

namespace
{

CodeTrust Invalid(const String& reason)
{
    CodeTrust trust;
    trust.state = TrustState::Invalid;
    trust.reason = reason;
    return trust;
}

// Each certificate of the signer's chain signed by the next one's key. A chain engine that finds an issuer
// by its name alone would otherwise let a signer under another root of the same name through.
bool ChainSignaturesHold(HANDLE state)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer || !signer->pChainContext || signer->pChainContext->cChain < 1)
        return false;
    const CERT_SIMPLE_CHAIN* chain = signer->pChainContext->rgpChain[0];
    if (chain->cElement < 1)
        return false;
    for (DWORD i = 0; i < chain->cElement; ++i)
    {
        PCCERT_CONTEXT subject = chain->rgpElement[i]->pCertContext;
        // The last one is the root, signed by itself.
        PCCERT_CONTEXT issuer = i + 1 < chain->cElement ? chain->rgpElement[i + 1]->pCertContext : subject;
        if (!CryptVerifyCertificateSignatureEx(
                0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, const_cast<CERT_CONTEXT*>(subject),
                CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(issuer), 0, nullptr))
            return false;
    }
    return true;
}

// The generic Authenticode check: no user interface, no revocation checks. The raw result.
LONG VerifyFile(const std::wstring& path)
{
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (result == ERROR_SUCCESS && !ChainSignaturesHold(data.hWVTStateData))
        result = TRUST_E_CERT_SIGNATURE;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

// The simple display name of the embedded signature's first signer; empty (with a trace line) when a
// step fails.
String SignerName(const std::wstring& path)
{
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
                          nullptr))
    {
        LogTrace(u"[FG] CryptQueryObject fail %x", unsigned(GetLastError()));
        return String();
    }
    String name;
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size))
        LogTrace(u"[FG] CryptMsgGetParam size fail %x", unsigned(GetLastError()));
    else
    {
        std::vector<BYTE> buffer(size);
        if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size))
            LogTrace(u"[FG] CryptMsgGetParam fail %x", unsigned(GetLastError()));
        else
        {
            const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
            CERT_INFO wanted{};
            wanted.Issuer = signer->Issuer;
            wanted.SerialNumber = signer->SerialNumber;
            PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                             0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
            if (!cert)
                LogTrace(u"[FG] CertFindCertificateInStore fail %x", unsigned(GetLastError()));
            else
            {
                DWORD length =
                    CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
                std::wstring text(length, L'\0');
                if (length > 1)
                {
                    CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.data(), length);
                    text.resize(length - 1);
                    name = FromNativeText(text);
                }
                CertFreeCertificateContext(cert);
            }
        }
    }
    CryptMsgClose(message);
    CertCloseStore(store, 0);
    return name;
}

} // namespace

CodeTrust CheckFileTrust(const String& path, const String& operatorCaFile)
{
    (void)operatorCaFile;
    File file;
    if (!file.OpenRead(path))
        return Invalid(FormatString(u"cannot read %ls", path));
    file.Close();
    const std::wstring native = NativePath(path);
    const LONG result = VerifyFile(native);
    if (result == TRUST_E_NOSIGNATURE)
        return CodeTrust();
    // A signature that is there but does not verify is refused, whatever name it shows.
    if (result != ERROR_SUCCESS)
        return Invalid(FormatString(u"the signature does not verify (%.8x)", _dword(result)));
    String signer = SignerName(native);
    if (signer.empty())
        return Invalid(u"the signer's name cannot be read");
    CodeTrust trust;
    trust.state = TrustState::Valid;
    trust.signer = std::move(signer);
    return trust;
}

} // namespace Vexel
