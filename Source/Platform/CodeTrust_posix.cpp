// Appended signatures checked and made with OpenSSL.
#include "Platform/CodeTrust_posix.h"
#include "Platform/CodeTrust.h"

#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <string>
#include <sys/stat.h>

namespace Vexel
{

namespace
{

struct FreeBio
{
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct FreeCms
{
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
struct FreeStore
{
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct FreeCert
{
    void operator()(X509* cert) const { X509_free(cert); }
};
struct FreeCerts
{
    void operator()(STACK_OF(X509) * certs) const { sk_X509_pop_free(certs, X509_free); }
};
struct FreeContext
{
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct FreeDigest
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FreeKey
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A signature is a few kilobytes; a length beyond this is a damaged or hostile file.
constexpr std::size_t _MAX_SIGNATURE_SIZE = 16u << 20;

// Everything OpenSSL queued on this thread, oldest first, and the queue emptied.
std::string TakeErrors()
{
    std::string text;
    const char* data = nullptr;
    int flags = 0;
    while (unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags))
    {
        if (!text.empty())
            text += "; ";
        const char* reason = ERR_reason_error_string(code);
        text += reason ? reason : "error " + std::to_string(code);
        if (data && *data && (flags & ERR_TXT_STRING))
            text += std::string(" (") + data + ")";
    }
    return text;
}

CodeTrust Invalid(const String& reason)
{
    CodeTrust trust;
    trust.state = TrustState::Invalid;
    trust.reason = reason;
    return trust;
}

CodeTrust Invalid(const char16_t* what, const std::string& detail)
{
    return Invalid(detail.empty() ? String(what) : FormatString(u"%ls: %hs", what, detail.c_str()));
}

// The text of the subject's first attribute of that kind; empty when it has none.
String NameEntry(X509_NAME* name, int nid)
{
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return String();
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return String();
    String text = FromUtf8(std::string_view(reinterpret_cast<const char*>(utf8), length));
    OPENSSL_free(utf8);
    return text;
}

bool AllowsCodeSigning(X509* cert)
{
    const uint32_t flags = X509_get_extension_flags(cert);
    if (!(flags & EXFLAG_XKUSAGE) || !(X509_get_extended_key_usage(cert) & XKU_CODE_SIGN))
        return false;
    return !(flags & EXFLAG_KUSAGE) || (X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE);
}

// The system's hashed certificate folder is read certificate by certificate as chains need them; the
// bundle file (hundreds of certificates parsed on every check) only when there is no such folder.
bool LoadSystemCertificates(X509_STORE* store)
{
    const char* folder = std::getenv(X509_get_default_cert_dir_env());
    if (!folder || !*folder)
        folder = X509_get_default_cert_dir();
    struct stat info;
    if (folder && ::stat(folder, &info) == 0 && S_ISDIR(info.st_mode))
        return X509_STORE_load_path(store, folder) == 1;
    return X509_STORE_set_default_paths(store) == 1;
}

BIO* OpenPem(const String& path)
{
    return BIO_new_file(NativePath(path).c_str(), "r");
}

// S checked against the SHA-256 digest of M.
CodeTrust CheckSignature(const _byte* signature, std::size_t signatureSize, const unsigned char* digest,
                         const String& operatorCaFile)
{
    if (signatureSize > _MAX_SIGNATURE_SIZE)
        return Invalid(u"the signature is too large to check");

    ERR_clear_error();
    const unsigned char* cursor = signature;
    const unsigned char* end = cursor + signatureSize;
    std::unique_ptr<CMS_ContentInfo, FreeCms> cms(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(signatureSize)));
    if (!cms)
        return Invalid(u"the signature is not a DER-encoded CMS structure", TakeErrors());
    if (cursor != end)
        return Invalid(FormatString(u"%u bytes follow the signature structure inside its length",
                                    static_cast<_dword>(end - cursor)));
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)
        return Invalid(u"the signature is not CMS SignedData");
    if (CMS_is_detached(cms.get()) != 1)
        return Invalid(u"the signature carries content of its own instead of covering the module");
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    if (!infos || sk_CMS_SignerInfo_num(infos) < 1)
        return Invalid(u"the signature has no signer");
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i)
    {
        X509_ALGOR* digest = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, i), nullptr, nullptr, &digest, nullptr);
        const ASN1_OBJECT* algorithm = nullptr;
        if (digest)
            X509_ALGOR_get0(&algorithm, nullptr, nullptr, digest);
        if (!algorithm || OBJ_obj2nid(algorithm) != NID_sha256)
            return Invalid(u"the signature's digest is not SHA-256");
    }

    // Each signer's certificate, from those the signature carries.
    if (CMS_set1_signers_certs(cms.get(), nullptr, 0) < 0)
        return Invalid(u"the signature does not include its signer's certificate", TakeErrors());

    std::unique_ptr<X509_STORE, FreeStore> store(X509_STORE_new());
    if (!store || !LoadSystemCertificates(store.get()))
        return Invalid(u"cannot open the system's certificate store", TakeErrors());
    String caNote;
    if (!operatorCaFile.empty() && X509_STORE_load_file(store.get(), NativePath(operatorCaFile).c_str()) != 1)
    {
        caNote = FormatString(u" (the operator's CA file %ls could not be read: %hs)", operatorCaFile,
                              TakeErrors().c_str());
    }
    ERR_clear_error();
    // Chains are checked for any purpose; code signing is required of the signer itself below.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);

    // The steps of a CMS verification done one by one: the content digest comes from the caller rather
    // than OpenSSL's digest chain (which leaks when the structure names an unknown algorithm, and would
    // need the whole module in memory).
    std::unique_ptr<STACK_OF(X509), FreeCerts> carried(CMS_get1_certs(cms.get()));
    X509* firstSigner = nullptr;
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i)
    {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        X509* signer = nullptr;
        CMS_SignerInfo_get0_algs(info, nullptr, &signer, nullptr, nullptr);
        if (!signer)
            return Invalid(u"the signature does not include its signer's certificate");
        if (!firstSigner)
            firstSigner = signer;

        std::unique_ptr<X509_STORE_CTX, FreeContext> context(X509_STORE_CTX_new());
        if (!context || X509_STORE_CTX_init(context.get(), store.get(), signer, carried.get()) != 1)
            return Invalid(u"out of memory");
        if (X509_verify_cert(context.get()) != 1)
        {
            int error = X509_STORE_CTX_get_error(context.get());
            return Invalid(FormatString(u"the signer's certificate is not trusted: %hs%ls",
                                        X509_verify_cert_error_string(error), caNote));
        }
        if (!AllowsCodeSigning(signer))
            return Invalid(u"the signer's certificate does not allow code signing");

        // The signature covers the signed attributes, and they hold the module's digest.
        if (CMS_signed_get_attr_count(info) <= 0)
            return Invalid(u"the signature has no signed attributes");
        auto* claimed = static_cast<ASN1_OCTET_STRING*>(
            CMS_signed_get0_data_by_OBJ(info, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
        if (!claimed || ASN1_STRING_length(claimed) != SHA256_DIGEST_LENGTH ||
            std::memcmp(ASN1_STRING_get0_data(claimed), digest, SHA256_DIGEST_LENGTH) != 0)
            return Invalid(u"the signature does not verify: the module's digest differs from the signed one");
        if (CMS_SignerInfo_verify(info) != 1)
            return Invalid(u"the signature does not verify", TakeErrors());
    }
    ERR_clear_error();

    X509_NAME* subject = X509_get_subject_name(firstSigner);
    CodeTrust trust;
    trust.signer = NameEntry(subject, NID_commonName);
    if (trust.signer.empty())
        trust.signer = NameEntry(subject, NID_organizationName);
    if (trust.signer.empty())
        return Invalid(u"the signer's certificate names neither a common name nor an organisation");
    trust.state = TrustState::Valid;
    return trust;
}

} // namespace

CodeTrust CheckSignedBytes(const _byte* data, std::size_t size, const String& operatorCaFile)
{
    SignatureLayout layout = ReadSignatureLayout(data, size);
    if (layout.kind == SignatureLayout::None)
        return CodeTrust();
    if (layout.kind == SignatureLayout::Damaged)
        return Invalid(layout.error);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    static const _byte nothing = 0;
    if (!EVP_Digest(layout.moduleSize ? data : &nothing, layout.moduleSize, digest, nullptr, EVP_sha256(),
                    nullptr))
        return Invalid(u"cannot compute the module's digest", TakeErrors());
    return CheckSignature(data + layout.moduleSize, layout.signatureSize, digest, operatorCaFile);
}

// Streamed: only the signature is held in memory, the module is hashed block by block.
CodeTrust CheckFileTrust(const String& path, const String& operatorCaFile)
{
    File file;
    if (!file.OpenRead(path))
        return Invalid(FormatString(u"cannot read %ls", path));
    const _qword size = file.GetSize();
    _byte tail[_SIGNATURE_TRAILER_SIZE];
    const _dword tailSize = size < sizeof tail ? static_cast<_dword>(size) : static_cast<_dword>(sizeof tail);
    if (!file.Seek(size - tailSize) || !file.Read(tail, tailSize))
        return Invalid(FormatString(u"cannot read %ls", path));
    SignatureLayout layout = ReadSignatureLayoutFromTail(tail, tailSize, size);
    if (layout.kind == SignatureLayout::None)
        return CodeTrust();
    if (layout.kind == SignatureLayout::Damaged)
        return Invalid(layout.error);
    if (layout.signatureSize > _MAX_SIGNATURE_SIZE)
        return Invalid(u"the signature is too large to check");

    std::vector<_byte> signature(layout.signatureSize);
    if (!file.Seek(layout.moduleSize) || !file.Read(signature.data(), static_cast<_dword>(signature.size())))
        return Invalid(FormatString(u"cannot read %ls", path));
    std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 || !file.Seek(0))
        return Invalid(u"cannot compute the module's digest", TakeErrors());
    std::vector<_byte> block(1 << 20);
    for (std::size_t left = layout.moduleSize; left > 0;)
    {
        const _dword piece = static_cast<_dword>(left < block.size() ? left : block.size());
        if (!file.Read(block.data(), piece))
            return Invalid(FormatString(u"cannot read %ls", path));
        EVP_DigestUpdate(context.get(), block.data(), piece);
        left -= piece;
    }
    unsigned char digest[SHA256_DIGEST_LENGTH];
    if (EVP_DigestFinal_ex(context.get(), digest, nullptr) != 1)
        return Invalid(u"cannot compute the module's digest", TakeErrors());
    return CheckSignature(signature.data(), signature.size(), digest, operatorCaFile);
}

bool SignModuleBytes(const _byte* module, std::size_t size, const String& keyFile, const String& certFile,
                     const String& chainFile, std::vector<_byte>& signature, String& error)
{
    signature.clear();
    ERR_clear_error();
    auto fail = [&error](const String& what)
    {
        std::string detail = TakeErrors();
        error = detail.empty() ? what : FormatString(u"%ls: %hs", what, detail.c_str());
        return false;
    };
    if (size > INT_MAX)
        return fail(u"the module is too large to sign");

    std::unique_ptr<BIO, FreeBio> keyBio(OpenPem(keyFile));
    if (!keyBio)
        return fail(FormatString(u"cannot open the key %ls", keyFile));
    std::unique_ptr<EVP_PKEY, FreeKey> key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!key)
        return fail(FormatString(u"%ls holds no PEM private key", keyFile));

    std::unique_ptr<BIO, FreeBio> certBio(OpenPem(certFile));
    if (!certBio)
        return fail(FormatString(u"cannot open the certificate %ls", certFile));
    std::unique_ptr<X509, FreeCert> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return fail(FormatString(u"%ls holds no PEM certificate", certFile));

    std::unique_ptr<STACK_OF(X509), FreeCerts> chain(sk_X509_new_null());
    if (!chainFile.empty())
    {
        std::unique_ptr<BIO, FreeBio> chainBio(OpenPem(chainFile));
        if (!chainBio)
            return fail(FormatString(u"cannot open the chain %ls", chainFile));
        while (X509* extra = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr))
            sk_X509_push(chain.get(), extra);
        ERR_clear_error(); // the end of the file reads as an error
        if (sk_X509_num(chain.get()) == 0)
            return fail(FormatString(u"%ls holds no PEM certificate", chainFile));
    }

    const int flags = CMS_BINARY | CMS_DETACHED | CMS_PARTIAL;
    std::unique_ptr<CMS_ContentInfo, FreeCms> cms(CMS_sign(nullptr, nullptr, chain.get(), nullptr, flags));
    if (!cms)
        return fail(u"cannot start the signature");
    if (!CMS_add1_signer(cms.get(), cert.get(), key.get(), EVP_sha256(), CMS_BINARY))
        return fail(u"cannot sign with this key and certificate");
    static const _byte nothing = 0;
    std::unique_ptr<BIO, FreeBio> content(BIO_new_mem_buf(size ? module : &nothing, static_cast<int>(size)));
    if (!content || CMS_final(cms.get(), content.get(), nullptr, CMS_BINARY | CMS_DETACHED) != 1)
        return fail(u"cannot sign the module");
    unsigned char* der = nullptr;
    int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length <= 0)
        return fail(u"cannot encode the signature");
    signature.assign(der, der + length);
    OPENSSL_free(der);
    return true;
}

} // namespace Vexel
