// Draws report.html of a made-up run (ReportSamples.h) in headless Chromium and checks that a real
// page came out. Exit status 77 (skipped) when no Chromium is installed.
//
//   test_hub_report_screenshot OUTPUT_DIR

#include "HtmlReport.h"
#include "JsonParse.h"
#include "ReportSamples.h"
#include "ResultSummary.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kSkipped = 77;

// The name of the Chromium on PATH; empty when there is none.
std::string findChromium()
{
    for (const std::string name : {"chromium", "chromium-browser"})
        if (std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0)
            return name;
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string chromium = findChromium();
    if (chromium.empty()) {
        std::puts("no chromium installed: skipped");
        return kSkipped;
    }
    const std::filesystem::path dir = std::filesystem::absolute(argv[1]);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "profile");
    const auto summaries = roamnode::report::summarize(
        testsupport::parsed(kResultList).value_or(Json::Value()),
        testsupport::parsed(kDescription).value_or(Json::Value()), "test");
    if (summaries.size() != 1 || summaries[0].flows.size() != 3) {
        std::fputs("the made-up result list did not summarize\n", stderr);
        return 1;
    }
    roamnode::report::RunInfo run;
    run.startNs = 1700000000000000000LL;
    roamnode::report::EndpointInfo endpoint;
    endpoint.name = "lab";
    endpoint.id = "3f2a9c1e-8b7d-4c6a-9e5f-0123456789ab";
    endpoint.addresses = "10.0.0.5, fd00::5";
    endpoint.os = "Linux debian 12";
    endpoint.appVersion = "2.12.3.0";
    endpoint.offsetNs = 1500000;
    endpoint.offsetErrorNs = 45000;
    run.endpoints.push_back(endpoint);
    std::ofstream(dir / "report.html")
        << roamnode::report::htmlReport("Screenshot", summaries, run);

    const std::filesystem::path png = dir / "report.png";
    // A fresh profile and no network: the page needs nothing from outside.
    const std::string command =
        "timeout 90 '" + chromium +
        "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir='" +
        (dir / "profile").string() + "' --screenshot='" + png.string() +
        "' --window-size=1200,2000 'file://" + (dir / "report.html").string() + "' >'" +
        (dir / "chromium.log").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::error_code ec;
    const auto size = std::filesystem::file_size(png, ec);
    if (ec) {
        std::fprintf(stderr, "no screenshot (chromium status %d), see %s\n", status,
                     (dir / "chromium.log").c_str());
        return 1;
    }
    char signature[8] = {};
    std::ifstream(png, std::ios::binary).read(signature, sizeof signature);
    if (std::string(signature, 4) != "\x89PNG") {
        std::fputs("the screenshot is not a PNG\n", stderr);
        return 1;
    }
    // A blank 1200x2000 page compresses to a few hundred bytes; tables, text and charts do not.
    if (size < 20000) {
        std::fprintf(stderr, "the screenshot looks blank (%ju bytes)\n",
                     static_cast<uintmax_t>(size));
        return 1;
    }
    std::printf("screenshot %s: %ju bytes\n", png.c_str(), static_cast<uintmax_t>(size));
    return 0;
}
