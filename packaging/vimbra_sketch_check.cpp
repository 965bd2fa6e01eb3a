// The test program that vimbra_add_sketch_test builds for a sketch: it runs the sketch
// in-process with its stimulus, reads the log for the module, and compares the screen at each
// mark asked for with REFERENCES/MARK.png. With --marks it checks instead that every mark of
// the log has its picture and every picture its mark. Status 0 when all agree, else 1 with a
// line for each difference. VIMBRA_UPDATE=1 writes pictures that are missing or differ.
//
//   NAME_screens --name NAME --references DIR [--stimulus FILE] [--run TIME] [--profile FILE]
//                [--font FILE] [--start-us N] [--wall-limit MS] (--marks | -- MARK...)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <vimbra/vimbra.hpp>
#include <vimbra_sketch.h>

VIMBRA_DECLARE_SKETCH(VIMBRA_CHECK_SKETCH)

namespace {

struct request_t {
    std::string name = "sketch";
    std::string references;
    std::string stimulus;
    std::string profile;
    std::string font;
    bool marks = false;
    std::vector<std::string> wanted;
    vimbra::arduino::run_options options;
};

// "10s", "1.5s", "250ms", "40us": whole microseconds.
bool parse_time(const std::string& text, std::uint64_t* us) {
    std::size_t i = 0;
    std::uint64_t whole = 0;
    std::uint64_t fraction = 0;
    std::uint64_t fraction_scale = 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && whole < 10000000000ULL; ++i) {
        whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) {
        return false;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (fraction_scale < 1000000) {
                fraction = fraction * 10 + static_cast<std::uint64_t>(text[i] - '0');
                fraction_scale *= 10;
            }
        }
    }
    const std::string unit = text.substr(i);
    const std::uint64_t scale = unit == "s" ? 1000000 : unit == "ms" ? 1000 : unit == "us" ? 1 : 0;
    if (scale == 0) {
        return false;
    }
    *us = whole * scale + fraction * scale / fraction_scale;
    return true;
}

bool read_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool parse_arguments(int argc, char** argv, request_t* request) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--marks") {
            request->marks = true;
        } else if (arg == "--") {
            request->wanted.assign(argv + i + 1, argv + argc);
            break;
        } else if (!has_value) {
            std::cerr << "unknown or incomplete option " << arg << "\n";
            return false;
        } else if (arg == "--name") {
            request->name = argv[++i];
        } else if (arg == "--references") {
            request->references = argv[++i];
        } else if (arg == "--stimulus") {
            request->stimulus = argv[++i];
        } else if (arg == "--profile") {
            request->profile = argv[++i];
        } else if (arg == "--font") {
            request->font = argv[++i];
        } else if (arg == "--run") {
            if (!parse_time(argv[++i], &request->options.run_us)) {
                std::cerr << request->name << ": RUN is not a time: " << argv[i] << "\n";
                return false;
            }
        } else if (arg == "--start-us") {
            request->options.start_us = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--wall-limit") {
            request->options.wall_limit_ms =
                static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::cerr << "unknown option " << arg << "\n";
            return false;
        }
    }
    return true;
}

vimbra::source source_of(const std::string& path) {
    return path.empty() ? vimbra::source::none() : vimbra::source::file(path);
}

std::string picture_of(const request_t& request, const std::string& mark) {
    return request.references + "/" + mark + ".png";
}

// One mark against its picture: true when they agree (or the picture was written).
bool check_mark(const request_t& request, const vimbra::command_log& log, const std::string& mark) {
    const vimbra::screen screen = log.screen_at(mark);
    if (!screen.ok()) {
        std::cout << request.name << "/" << mark << ": " << screen.outcome().message << "\n";
        return false;
    }
    const std::string picture = picture_of(request, mark);
    const vimbra::comparison comparison = screen.compare(picture);
    const std::string& message = comparison.outcome.message;
    if (!message.empty()) {
        // The cells that differ, after the picture's name (other messages name it already).
        const bool named = message.compare(0, picture.size(), picture) == 0;
        std::cout << request.name << "/" << mark << ": " << (named ? "" : picture + ": ") << message
                  << "\n";
    }
    return comparison.same();
}

bool updating() {
    const char* update = std::getenv("VIMBRA_UPDATE");
    return update != nullptr && std::strcmp(update, "1") == 0;
}

// Every mark has its picture (written when updating) and every picture its mark.
bool check_marks(const request_t& request, const vimbra::command_log& log) {
    bool ok = true;
    const std::vector<std::string> marks = log.marks();
    if (marks.empty()) {
        std::cout << request.name << ": the log has no marks\n";
        return false;
    }
    std::error_code error;
    if (updating()) {
        std::filesystem::create_directories(request.references, error);
    }
    std::set<std::string> pictures;
    for (const auto& entry : std::filesystem::directory_iterator(request.references, error)) {
        const std::string file = entry.path().filename().string();
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0) {
            pictures.insert(file.substr(0, file.size() - 4));
        }
    }
    for (const std::string& mark : marks) {
        if (pictures.count(mark) == 0) {
            ok = check_mark(request, log, mark) && ok;
        }
        pictures.erase(mark);
    }
    for (const std::string& picture : pictures) {
        std::string known;
        for (const std::string& mark : marks) {
            known += (known.empty() ? "" : ", ") + mark;
        }
        std::cout << request.name << ": " << picture_of(request, picture) << " has no mark '"
                  << picture << "' in the log (its marks: " << known << ")\n";
        ok = false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    request_t request;
    if (!parse_arguments(argc, argv, &request)) {
        return 2;
    }
    if (!request.stimulus.empty()) {
        if (!read_file(request.stimulus, &request.options.stimulus)) {
            std::cout << request.name << ": cannot read the stimulus " << request.stimulus << "\n";
            return 1;
        }
        request.options.stimulus_name = request.stimulus;
    }
    const vimbra::arduino::run_result run =
        vimbra::arduino::run(vimbra::sketches::VIMBRA_CHECK_SKETCH, request.options);
    std::cout << run.warnings;
    if (!run.ok()) {
        std::cout << run.message << "\n";
        return 1;
    }
    const vimbra::module module =
        vimbra::module::open(source_of(request.profile), source_of(request.font));
    if (!module.ok()) {
        std::cout << request.name << ": " << module.outcome().message << "\n";
        return 1;
    }
    const vimbra::command_log log = module.read_log(run.log);
    if (!log.ok()) {
        std::cout << request.name << ": the log: " << log.outcome().message << "\n";
        return 1;
    }
    bool ok = true;
    if (request.marks) {
        ok = check_marks(request, log);
    }
    for (const std::string& mark : request.wanted) {
        ok = check_mark(request, log, mark) && ok;
    }
    return ok ? 0 : 1;
}
