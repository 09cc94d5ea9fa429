#include "TestCertificates.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Vexel::Test
{

namespace fs = std::filesystem;

bool RunArgv(const std::vector<std::string>& argv, std::string* output)
{
    if (argv.empty())
        return false;
    TempDir scratch;
    const std::string capture = (scratch / "output").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (started == 0)
        while (waitpid(pid, &status, 0) < 0)
            ;
    if (output)
        *output = ReadBytes(capture);
    return started == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace
{
// Sections for "-extensions"; the req section only satisfies the program.
const char* const _CONFIG = R"([req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
[plain]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
)";
} // namespace

TestPki::TestPki(const fs::path& folder) : mFolder(folder), mConfig(folder / "pki.cnf")
{
    WriteBytes(mConfig, _CONFIG);
    root = folder / "root.pem";
    rogueRoot = folder / "rogue-root.pem";
    const fs::path rootKey = folder / "root.key";
    const fs::path rogueKey = folder / "rogue-root.key";
    const fs::path interKey = folder / "inter.key";
    const fs::path inter = folder / "inter.pem";
    auto signer = [&](const std::string& name, const fs::path& chain = {}) {
        return TestSigner{folder / (name + ".key"), folder / (name + ".pem"), chain};
    };
    studio = signer("studio");
    viaChain = signer("chain-signer", inter);
    orgOnly = signer("org-only");
    serverOnly = signer("server-only");
    noUsage = signer("no-usage");
    rogue = signer("rogue");

    Step(MakeRoot("/CN=Vexel Test Root", rootKey, root), "root") &&
        Step(MakeRoot("/CN=Vexel Test Root", rogueKey, rogueRoot), "rogue root") &&
        Step(Issue("/CN=Vexel Test Intermediate", "ca", rootKey, root, interKey, inter), "intermediate") &&
        Step(Issue("/CN=Vexel Studio Ltd.", "codesign", rootKey, root, studio.key, studio.cert), "signer") &&
        Step(
            Issue("/CN=Vexel Interactive Tech Ltd", "codesign", interKey, inter, viaChain.key, viaChain.cert),
            "chained signer") &&
        Step(Issue("/O=Orrin Harbor (Capital) Tech Ltd.", "codesign", rootKey, root, orgOnly.key,
                   orgOnly.cert),
             "organisation signer") &&
        Step(Issue("/CN=Vexel Studio Ltd.", "server", rootKey, root, serverOnly.key, serverOnly.cert),
             "server signer") &&
        Step(Issue("/CN=Vexel Studio Ltd.", "plain", rootKey, root, noUsage.key, noUsage.cert),
             "plain signer") &&
        Step(Issue("/CN=Vexel Studio Ltd.", "codesign", rogueKey, rogueRoot, rogue.key, rogue.cert),
             "rogue signer");
}

bool TestPki::Step(bool ok, const std::string& what)
{
    if (!ok && mError.empty())
        mError = "could not make the " + what + " with openssl";
    return ok;
}

bool TestPki::MakeKey(const fs::path& key)
{
    return RunArgv({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                    key.string()});
}

bool TestPki::MakeRoot(const std::string& name, const fs::path& key, const fs::path& cert)
{
    return MakeKey(key) && RunArgv({"openssl", "req", "-config", mConfig.string(), "-x509", "-new", "-key",
                                    key.string(), "-subj", name, "-days", "30", "-extensions", "ca",
                                    "-set_serial", std::to_string(mSerial++), "-out", cert.string()});
}

bool TestPki::Issue(const std::string& subject, const std::string& section, const fs::path& caKey,
                    const fs::path& caCert, const fs::path& key, const fs::path& cert)
{
    const fs::path request = fs::path(cert).replace_extension(".csr");
    return MakeKey(key) &&
           RunArgv({"openssl", "req", "-config", mConfig.string(), "-new", "-key", key.string(), "-subj",
                    subject, "-out", request.string()}) &&
           RunArgv({"openssl", "x509", "-req", "-in", request.string(), "-CA", caCert.string(), "-CAkey",
                    caKey.string(), "-set_serial", std::to_string(mSerial++), "-days", "30", "-extfile",
                    mConfig.string(), "-extensions", section, "-out", cert.string()});
}

} // namespace Vexel::Test
