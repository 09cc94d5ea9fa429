// gamepage and blocklist: what an operator publishes about a game's loader module. The game page's
// `param` elements (the module's digest in the client's own text form, its address, size and CDN list)
// and the block list the client asks at "/dev/bl".
#include "Commands.h"
#include "ToolFile.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/LoaderTrust.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace Vexel::Pack
{

namespace
{

constexpr std::uint64_t _MIB = std::uint64_t(1) << 20;

String Wide(const std::string& text)
{
    return ArgumentText(text);
}

std::string Narrow(const String& text)
{
    return ToUtf8(text);
}

// An attribute value as HTML needs it: the page's reader gives back exactly the text.
std::string Attribute(const std::string& text)
{
    std::string out;
    for (char c : text)
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    return out;
}

bool IsDigestText(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

int RunGamePage(const Command& self, const std::vector<std::string>& args)
{
    ValuedOptions options;
    std::string message;
    if (!ParseValuedOptions(args, {"--cdn", "--param"}, options, message))
        return UsageError(self, message);
    if (options.positional.size() != 2)
        return UsageError(self, "expected MODULE and URL");
    const std::string& module = options.positional[0];
    const std::string& url = options.positional[1];

    // The client asks the URL's host through each CDN address with the URL's own host in its header, and
    // appends "?pv=10004": an address without a scheme and host, or with a query, would never work.
    std::size_t scheme = url.find("://");
    if (scheme == std::string::npos ||
        (url.compare(0, scheme, "http") != 0 && url.compare(0, scheme, "https") != 0))
        return UsageError(self, "URL must begin with http:// or https://");
    std::size_t hostEnd = url.find('/', scheme + 3);
    if (hostEnd == scheme + 3 || scheme + 3 >= url.size())
        return UsageError(self, "URL has no host");
    if (url.find_first_of("?#\"") != std::string::npos)
        return UsageError(self, "URL must not carry a query, a fragment or a quote (the client appends "
                                "its own query)");

    std::vector<std::string> cdns, params;
    for (const auto& [name, value] : options.valued)
        if (name == "--cdn")
        {
            if (value.empty() || value.find_first_of("/| \t") != std::string::npos)
                return UsageError(self, "--cdn takes HOST or HOST:PORT (no scheme, path, blank or '|'): '" +
                                            value + "'");
            cdns.push_back(value);
        }
        else
        {
            std::size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0)
                return UsageError(self, "--param takes NAME=VALUE: '" + value + "'");
            if (value.compare(0, equals, "cdnip") == 0 && !cdns.empty())
                return UsageError(self,
                                  "give the CDN list either with --cdn or as --param cdnip=..., not both");
            params.push_back(value);
        }
    if (!cdns.empty())
    {
        std::string list;
        for (const std::string& cdn : cdns)
            list += (list.empty() ? "" : "|") + cdn;
        params.push_back("cdnip=" + list);
    }

    std::error_code error;
    if (!std::filesystem::is_regular_file(module, error))
        return Fail("cannot read " + module);
    std::uint64_t size = std::filesystem::file_size(module, error);
    if (error)
        return Fail("cannot read " + module + ": " + error.message());
    MD5 digest = FileDigest(Wide(module));
    if (digest == MD5() && size != 0)
        return Fail("cannot read " + module);

    // The digest as the client writes it: the common digest's 16 bytes in reverse order.
    std::string page = "<param name=\"libmd5\" value=\"" + Narrow(Md5ToText(digest)) + "\">\n";
    page += "<param name=\"liburl\" value=\"" + Attribute(url) + "\">\n";
    // Whole MiB, rounded up: the client looks for that much free space.
    page += "<param name=\"size\" value=\"" +
            std::to_string(std::max<std::uint64_t>(1, (size + _MIB - 1) / _MIB)) + "\">\n";
    for (std::size_t i = 0; i < params.size(); ++i)
        page +=
            "<param name=\"param" + std::to_string(i + 1) + "\" value=\"" + Attribute(params[i]) + "\">\n";
    if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() || std::fflush(stdout) != 0)
        return Fail("cannot write to standard output");
    return _EXIT_OK;
}

// --- blocklist ---------------------------------------------------------------------------------------

void AppendWord(std::vector<_byte>& out, _dword value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<_byte>((value >> (8 * i)) & 0xFF));
}

std::vector<_byte> WriteBlockList(const std::vector<BlockListRecord>& records)
{
    std::vector<_byte> out;
    for (const BlockListRecord& record : records)
    {
        for (_dword word : record.digest.w)
            AppendWord(out, word);
        AppendWord(out, static_cast<_dword>(record.message.size()));
        for (char16_t c : record.message)
            out.push_back(static_cast<_byte>(c & 0xFF)), out.push_back(static_cast<_byte>(c >> 8));
    }
    return out;
}

// The list in FILE (none when it does not exist); false when FILE holds bytes that are not records of
// this format, so that a rewrite never drops them unnoticed.
bool LoadBlockList(const std::string& file, std::vector<BlockListRecord>& records, std::string& message)
{
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return true;
    std::vector<_byte> bytes;
    if (!ReadFile(Wide(file), bytes))
        return message = "cannot read " + file, false;
    records = ReadBlockList(bytes.data(), bytes.size());
    if (WriteBlockList(records) != bytes)
        return message = file + " is not a block list of digest, length and message records", false;
    return true;
}

// MODULE is a module file, or the digest of one in the client's text form (32 hexadecimal digits).
bool ModuleDigest(const std::string& module, MD5& digest, std::string& message)
{
    std::error_code error;
    if (std::filesystem::is_regular_file(module, error))
    {
        std::vector<_byte> bytes;
        if (!ReadFile(Wide(module), bytes))
            return message = "cannot read " + module, false;
        digest = Md5Of(bytes.data(), bytes.size());
        return true;
    }
    if (IsDigestText(module))
    {
        digest = Md5FromText(Wide(module));
        return true;
    }
    return message = module + " is neither a file nor a digest of 32 hexadecimal digits", false;
}

int RunBlockList(const Command& self, const std::vector<std::string>& args)
{
    ValuedOptions options;
    std::string message;
    if (!ParseValuedOptions(args, {"--message"}, options, message))
        return UsageError(self, message);
    if (options.positional.size() < 2)
        return UsageError(self, "expected add, remove or list and FILE");
    const std::string action = options.positional[0];
    const std::string& file = options.positional[1];
    const bool list = action == "list";
    if (!list && action != "add" && action != "remove")
        return UsageError(self, "unknown action '" + action + "' (add, remove or list)");
    if (options.positional.size() != (list ? 2u : 3u))
        return UsageError(self, list ? "list takes FILE only" : action + " takes FILE and MODULE");
    if (options.valued.size() > 1 || (!options.valued.empty() && action != "add"))
        return UsageError(self, "--message goes with add, once");

    std::vector<BlockListRecord> records;
    if (!LoadBlockList(file, records, message))
        return Fail(message);
    if (list)
    {
        for (const BlockListRecord& record : records)
            std::printf("%s  %s\n", Narrow(Md5ToText(record.digest)).c_str(),
                        record.message.empty() ? "(the client's default text)"
                                               : Narrow(record.message).c_str());
        return std::fflush(stdout) == 0 ? _EXIT_OK : Fail("cannot write to standard output");
    }

    MD5 digest;
    if (!ModuleDigest(options.positional[2], digest, message))
        return Fail(message);
    std::size_t before = records.size();
    std::erase_if(records, [&](const BlockListRecord& record) { return record.digest == digest; });
    if (action == "add")
    {
        BlockListRecord record;
        record.digest = digest;
        if (!options.valued.empty())
            record.message = FromUtf8(options.valued[0].second);
        records.push_back(std::move(record));
    }
    else if (records.size() == before)
        return Fail(Narrow(Md5ToText(digest)) + " is not on the list in " + file);

    std::vector<_byte> bytes = WriteBlockList(records);
    OutputFile output;
    if (!output.Open(file) || !output.Write(bytes.data(), bytes.size()) || !output.Commit())
        return Fail(output.Error());
    return _EXIT_OK;
}

const CommandRegistration
    gGamePage({"gamepage", "MODULE URL [--cdn HOST:PORT]... [--param NAME=VALUE]...",
               "print the param elements of a game page that names MODULE",
               "  URL                where the page says the module is (http:// or https://, no query)\n"
               "  --cdn HOST:PORT    an address that serves the same file (asked with URL's host in the\n"
               "                     Host header), in the order the client tries them after URL's host\n"
               "  --param NAME=VALUE a parameter handed to the module, in order\n"
               "Prints libmd5 (the module's digest in the client's form: the 16 bytes of the common MD5\n"
               "digest in reverse order, which is not what md5sum prints), liburl, size (whole MiB,\n"
               "rounded up) and param1... (the --param values, then cdnip=HOST|HOST... from --cdn).\n",
               RunGamePage});
const CommandRegistration
    gBlockList({"blocklist", "add|remove|list FILE [MODULE] [--message TEXT]",
                "edit or show the block list (the client asks it at /dev/bl)",
                "  add FILE MODULE [--message TEXT]  ban MODULE (a module file, or its digest in the\n"
                "                                    client's form); the client shows TEXT, or its own\n"
                "                                    text with the support address when none is given;\n"
                "                                    a module on the list already gets the new text\n"
                "  remove FILE MODULE                take MODULE off the list\n"
                "  list FILE                         print each record's digest and text\n"
                "FILE is created by add when missing and is replaced only when written whole. Records are\n"
                "the module's MD5 (16 bytes), the text's length in UTF-16 units (4 bytes, little-endian)\n"
                "and the text (UTF-16LE).\n",
                RunBlockList});

} // namespace

} // namespace Vexel::Pack
