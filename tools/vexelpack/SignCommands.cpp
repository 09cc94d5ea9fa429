// sign and verify: the signature appended to a loader module (see Platform/CodeTrust.h).
#include "Commands.h"
#include "ToolFile.h"

#include "Common/StringEncoding.h"
#include "Platform/CodeTrust.h"
#if !defined(_WIN32)
#include "Platform/CodeTrust_posix.h"
#endif
#include "Platform/File.h"

#include <map>

namespace Vexel::Pack
{

namespace
{

// Options that take a value ("--key K") once each, then positional arguments; false with message on a
// mistake.
bool ParseValued(const std::vector<std::string>& args, const std::vector<std::string>& known,
                 std::map<std::string, std::string>& options, std::vector<std::string>& positional,
                 std::string& message)
{
    ValuedOptions parsed;
    if (!ParseValuedOptions(args, known, parsed, message))
        return false;
    for (const auto& [name, value] : parsed.valued)
        if (!options.emplace(name, value).second)
            return message = name + " given twice", false;
    positional = std::move(parsed.positional);
    return true;
}

String Wide(const std::string& path)
{
    return ArgumentText(path);
}

int RunSign(const Command& self, const std::vector<std::string>& args)
{
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    std::string message;
    if (!ParseValued(args, {"--key", "--cert", "--chain"}, options, positional, message))
        return UsageError(self, message);
    if (!options.count("--key") || !options.count("--cert"))
        return UsageError(self, "--key and --cert are required");
    if (positional.size() != 2)
        return UsageError(self, "expected IN and OUT");

#if defined(_WIN32)
    // The Windows client trusts Authenticode signatures, checked by the system; the system offers no
    // signing call for the appended form, and an appended signature would not count there anyway.
    return Fail("sign is not available in the Windows build: a module for Windows carries an Authenticode "
                "signature (sign it with signtool or osslsigncode); the appended signature is made by the "
                "build for other systems");
#else
    std::vector<_byte> module;
    if (!ReadFile(Wide(positional[0]), module))
        return Fail("cannot read " + positional[0]);
    SignatureLayout layout = ReadSignatureLayout(module.data(), module.size());
    if (layout.kind == SignatureLayout::Damaged)
        return Fail(positional[0] + " ends in a damaged signature trailer: " + ToUtf8(layout.error));
    if (layout.kind == SignatureLayout::Present)
    {
        // Signing again replaces the signature rather than signing the old one.
        std::fprintf(stderr, "vexelpack: %s is signed already; its signature is replaced\n",
                     positional[0].c_str());
        module.resize(layout.moduleSize);
    }

    std::vector<_byte> signature;
    String error;
    if (!SignModuleBytes(module.data(), module.size(), Wide(options["--key"]), Wide(options["--cert"]),
                         options.count("--chain") ? Wide(options["--chain"]) : String(), signature, error))
        return Fail(ToUtf8(error));
    // The module as read, then the signature with its length and magic.
    std::vector<_byte> tail = AppendSignature(nullptr, 0, signature.data(), signature.size());

    OutputFile output;
    if (!output.Open(positional[1]) || !output.Write(module.data(), module.size()) ||
        !output.Write(tail.data(), tail.size()) || !output.Commit())
        return Fail(output.Error());
    return _EXIT_OK;
#endif
}

int RunVerify(const Command& self, const std::vector<std::string>& args)
{
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    std::string message;
    if (!ParseValued(args, {"--ca"}, options, positional, message))
        return UsageError(self, message);
    if (positional.size() != 1)
        return UsageError(self, "expected one FILE");

#if defined(_WIN32)
    // The system's trust provider checks the Authenticode signature against the system's certificate
    // stores only.
    if (options.count("--ca"))
        std::fprintf(stderr,
                     "vexelpack: --ca is not used on Windows: the signature is trusted only through the "
                     "system's certificate stores (import %s into the trusted roots to trust it)\n",
                     options["--ca"].c_str());
#endif
    CodeTrust trust =
        CheckFileTrust(Wide(positional[0]), options.count("--ca") ? Wide(options["--ca"]) : String());
    switch (trust.state)
    {
    case TrustState::Valid:
        std::printf("%s\n", ToUtf8(trust.signer).c_str());
        return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
    case TrustState::Unsigned:
        return Fail(positional[0] + " is not signed");
    case TrustState::Invalid:
        break;
    }
    return Fail(positional[0] + ": invalid signature: " + ToUtf8(trust.reason));
}

const CommandRegistration
    gSign({"sign", "--key K --cert C [--chain F] IN OUT", "sign the loader module IN into OUT",
           "  --key K    the signer's private key (PEM, not encrypted)\n"
           "  --cert C   the signer's certificate (PEM); it must allow code signing\n"
           "  --chain F  intermediate certificates (PEM) to carry along\n"
           "OUT is IN followed by a DER CMS signature (SHA-256, detached) over IN, its length as\n"
           "4 bytes little-endian and \"VXSIGN01\". A signature IN already carries is replaced. OUT is\n"
           "replaced only when signing succeeded.\n",
           RunSign});
const CommandRegistration
    gVerify({"verify", "[--ca F] FILE", "check FILE's signature and print the signer's name",
             "  --ca F  trust the certificates in F (PEM) besides the system's\n"
             "Exit 0 with the signer's name (common name, else organisation) when the signature\n"
             "verifies and its certificate allows code signing; 1 when FILE is unsigned or the\n"
             "signature is invalid (the reason goes to standard error). Revocation is not checked.\n",
             RunVerify});

} // namespace

} // namespace Vexel::Pack
