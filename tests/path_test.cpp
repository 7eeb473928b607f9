// The cells are joined from their pieces by plain copies, which must keep two
// rules: a path over its field is never probed, even when a file bears its
// name cut to the field; a text is copied whole or cut at the field's end.
#include "app_data.h"
#include "harness.h"

#include <string_view>

namespace
{

using CellFn = void (*)(std::string_view, std::string_view, char *, std::uint64_t);

// The app's cell, right after that of `before`: a path unwritten names that.
Fill cell(CellFn fn, const std::string &app, const std::string &before = "")
{
    return [=](const std::string &root, char *field, std::size_t size) {
        std::vector<char> earlier(size);
        if (!before.empty())
            fn(root, before, earlier.data(), size);
        fn(root, app, field, size);
    };
}

Files file(const std::string &path, const std::string &content)
{
    return {{path, content}};
}

std::vector<Row> paths_and_texts_at_the_edge_of_their_fields()
{
    const std::size_t root = DataDir().root.size();
    // The app name that, framed by the rest, makes a path of that length.
    const auto name = [root](std::size_t path, std::string_view frame) {
        return nested_name(path - root - frame.size());
    };
    const std::string status_over = name(250, "/data/status/");
    const std::string status_fits = status_over.substr(0, status_over.size() - 1);
    const std::string icon_fits = name(4095, "/apps//icon-24.png");
    const std::string icon_over = name(4096, "/apps//icon-24.png");
    const std::string text_fits = name(4095, "/apps//description");
    const std::string text_over = name(4096, "/apps//description");
    const std::string s29(29, 's');
    // Each path that fits, and at the path one byte over cut to its field, a file.
    const Files statuses = file("data/status/" + status_fits, "installed\n") +
                           file("data/status/" + status_over, "installed\n");
    const Files icons = file("apps/" + icon_fits + "/icon-24.png", "png") +
                        file("apps/" + icon_over + "/icon-24.pn", "png");
    const Files texts = file("apps/" + text_fits + "/description", "Fits\n") +
                        file("apps/" + text_over + "/descriptio", "Cut\n");
    return {
        {"status path of 249 bytes", statuses, cell(get_app_status, status_fits), "installed", "",
         kStatusTextSize},
        {"status path of 250 bytes", statuses, cell(get_app_status, status_over, status_fits),
         "uninstalled", "", kStatusTextSize},
        {"app icon path of 4095 bytes", icons, cell(get_app_icon, icon_fits),
         "$D/apps/" + icon_fits + "/icon-24.png", "", kAppIconSize},
        {"app icon path of 4096 bytes", icons, cell(get_app_icon, icon_over, icon_fits), "kept",
         no_icon(icon_over), kAppIconSize},
        {"description path of 4095 bytes", texts, cell(get_app_status_and_desc, text_fits),
         "(uninstalled) Fits", "", kStatusAndDescSize},
        {"description path of 4096 bytes", texts,
         cell(get_app_status_and_desc, text_over, text_fits), "kept", no_description(text_over),
         kStatusAndDescSize},
        // Copied whole into its field; one byte more is an end-to-end row.
        {"status of 29 bytes", file("data/status/a", s29 + "\n"), cell(get_app_status, "a"), s29,
         "", kStatusTextSize},
        // 4095 bytes of "(installed) " and a 10 MiB first line.
        {"status and description cut to the field",
         app("a", "installed", std::string(10 << 20, 'x')), cell(get_app_status_and_desc, "a"),
         "(installed) " + std::string(4083, 'x'), "", kStatusAndDescSize},
    };
}
TABLE(Unit, Fields, paths_and_texts_at_the_edge_of_their_fields());

} // namespace
