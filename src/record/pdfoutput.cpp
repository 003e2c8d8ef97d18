#include "record/pdfoutput.h"

#include "record/loginput.h"
#include "record/logreader.h"
#include "record/outputpath.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace kora {

namespace {

bool endsInPdf(const std::string& path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    if (name.size() <= 4)
        return false;
    std::string suffix = name.substr(name.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return suffix == ".pdf";
}

// A regular file there that reads as a session log: someone's record,
// whatever its name says.
bool isSessionLog(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    LogInput input(path);
    return input.isOpen() && LogReader(input.stream()).notALog().empty();
}

} // namespace

std::string PdfOutputRefusal(const std::string& path, const std::vector<std::string>& logs)
{
    for (const std::string& log : logs)
        if (std::string why = OutputPathRefusal(path, log); !why.empty())
            return why;
    if (logs.empty())
        if (std::string why = OutputPathRefusal(path); !why.empty())
            return why;
    if (!endsInPdf(path))
        return "its name does not end in .pdf; nothing was written";
    if (isSessionLog(path))
        return "it is a session log; nothing was written";
    return {};
}

} // namespace kora
