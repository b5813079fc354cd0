#pragma once
// The one scanner of the command lines of kestranov-grid, of both
// companions and of make_cloud: it walks the words in order and tells an
// option from an operand; each program keeps its own table of options, its
// own messages, and throws the one UsageError its main turns into status 2.

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestranov::models {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a program's command line is written.
struct ArgumentRules {
    bool double_dash_ends_options = true;  // after "--" every word is an operand
    bool attached_values = true;           // --name=value stands for --name value
    bool long_options_only = false;        // only --name is an option: "-x" is an operand
};

class ArgumentScanner {
public:
    explicit ArgumentScanner(std::vector<std::string> words, ArgumentRules rules = {})
        : words_(std::move(words)), rules_(rules)
    {
    }

    // Moves to the next word (past the "--" that ends the options); false
    // after the last one.
    bool next()
    {
        attached_.reset();
        if (++at_ >= words_.size()) return false;
        if (rules_.double_dash_ends_options && !options_ended_ && words_[at_] == "--") {
            options_ended_ = true;
            return next();
        }
        const std::string& w = words_[at_];
        option_ = !options_ended_ &&
                  (rules_.long_options_only ? w.size() > 2 && w.starts_with("--") : w.size() > 1 && w[0] == '-');
        name_ = w;
        if (const std::size_t eq = w.find('=');
            option_ && rules_.attached_values && w.starts_with("--") && eq != std::string::npos) {
            attached_ = w.substr(eq + 1);
            name_.resize(eq);
        }
        return true;
    }

    bool is_option() const { return option_; }
    const std::string& word() const { return words_[at_]; }  // as typed
    const std::string& name() const { return name_; }        // an option's, without its =value
    // Whether an =value came with the option and no value() has taken it.
    bool attached() const { return attached_.has_value(); }

    // The option's value: its =value, else the next word, whatever it is.
    std::string value()
    {
        if (attached_) return *std::exchange(attached_, std::nullopt);
        if (at_ + 1 >= words_.size()) throw UsageError(name_ + " needs a value");
        return words_[++at_];
    }

    // The next word as it is, for an option of several values; none after
    // the last word.
    std::optional<std::string> following()
    {
        if (at_ + 1 >= words_.size()) return std::nullopt;
        return words_[++at_];
    }

private:
    std::vector<std::string> words_;
    ArgumentRules rules_;
    std::size_t at_ = static_cast<std::size_t>(-1);
    bool options_ended_ = false, option_ = false;
    std::string name_;
    std::optional<std::string> attached_;
};

}  // namespace kestranov::models
