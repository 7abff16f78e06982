#include "packer/ResponseFiles.h"

#include "packer/FileIo.h"
#include "packer/PackError.h"

#include <optional>

namespace packer {

namespace fs = std::filesystem;

std::vector<std::string> ResponseFileLines(const std::string& text) {
    const std::string byteOrderMark = "\xEF\xBB\xBF";
    std::size_t start = text.compare(0, byteOrderMark.size(), byteOrderMark) == 0 ? 3 : 0;
    std::vector<std::string> lines;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<fs::path> ReadResponseFile(const fs::path& file) {
    std::optional<InputFile> input;
    try {
        input.emplace(file);
    } catch (const PackError& error) {
        throw PackError(std::string("response file ") + error.what());
    }
    std::string text(static_cast<std::size_t>(input->Length()), '\0');
    text.resize(input->ReadAt(0, text.data(), text.size()));
    std::vector<fs::path> paths;
    for (const std::string& line : ResponseFileLines(text))
        paths.push_back(file.parent_path() / fs::u8path(line));
    return paths;
}

} // namespace packer
