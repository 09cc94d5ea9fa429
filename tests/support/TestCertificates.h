// A small certificate world made with the openssl program in a test's folder at run time: a trusted
// root, an intermediate, signers with and without code signing, and a second root nobody trusts whose
// signer copies an accepted name. Keys are EC P-256 so that making them is quick.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace Vexel::Test
{

// Runs a program from an argument vector (searched in the PATH), no shell; true when it exits with 0.
// Its output and error output go to output when given.
bool RunArgv(const std::vector<std::string>& argv, std::string* output = nullptr);

struct TestSigner
{
    std::filesystem::path key;
    std::filesystem::path cert;
    // Intermediate certificates to include (empty when the root signed it).
    std::filesystem::path chain;
};

class TestPki
{
public:
    // Makes everything in folder; Ok() says whether it worked, Error() why not.
    explicit TestPki(const std::filesystem::path& folder);

    bool Ok() const { return mError.empty(); }
    const std::string& Error() const { return mError; }

    // The operator's CA file: the trusted root.
    std::filesystem::path root;
    // Another root, not in the CA file.
    std::filesystem::path rogueRoot;

    TestSigner studio;     // "Vexel Studio Ltd." by the root, code signing
    TestSigner viaChain;   // "Vexel Interactive Tech Ltd" by the intermediate, code signing
    TestSigner orgOnly;    // no common name, organisation "Orrin Harbor (Capital) Tech Ltd.", code signing
    TestSigner serverOnly; // "Vexel Studio Ltd." by the root, extended key usage serverAuth only
    TestSigner noUsage;    // "Vexel Studio Ltd." by the root, no extended key usage at all
    TestSigner rogue;      // "Vexel Studio Ltd." by the rogue root, code signing

private:
    bool MakeKey(const std::filesystem::path& key);
    bool MakeRoot(const std::string& name, const std::filesystem::path& key,
                  const std::filesystem::path& cert);
    bool Issue(const std::string& subject, const std::string& section, const std::filesystem::path& caKey,
               const std::filesystem::path& caCert, const std::filesystem::path& key,
               const std::filesystem::path& cert);
    bool Step(bool ok, const std::string& what);

    std::filesystem::path mFolder;
    std::filesystem::path mConfig;
    int mSerial = 1;
    std::string mError;
};

} // namespace Vexel::Test
