#pragma once
// Errors the viewer reports to the user: always tied to the file at fault, so the
// single stderr line tells them which of the (often several) files to look at.

#include <stdexcept>
#include <string>

namespace kestranov::models {

class ModelError : public std::runtime_error {
public:
    ModelError(const std::string& file, const std::string& problem)
        : std::runtime_error(file + ": " + problem), file_(file), problem_(problem)
    {
    }

    const std::string& file() const noexcept { return file_; }
    const std::string& problem() const noexcept { return problem_; }

private:
    std::string file_;
    std::string problem_;
};

}  // namespace kestranov::models
