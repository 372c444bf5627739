// Makes the printout's template Forms/form.xlsx: a one-page A4 card form.
// The program writes into D1 to H10, A13, A18:C21 and A24 and puts the photo
// (115 points wide) at the top-left corner; everything else here is the
// form's own look, which an office may change or replace.
//
//   zentrax-mkform OUTPUT.xlsx

#include <xlsxwriter.h>

#include <cstdio>

namespace {

constexpr double kValueFont = 10;
constexpr double kLabelFont = 9;
constexpr lxw_color_t kLabelColour = 0x404040;
constexpr lxw_color_t kLineColour = 0x808080;
constexpr lxw_color_t kBandColour = 0xE8E8E8;

lxw_format *baseFormat(lxw_workbook *wb, double size)
{
    lxw_format *f = workbook_add_format(wb);
    format_set_font_name(f, "Arial");
    format_set_font_size(f, size);
    format_set_align(f, LXW_ALIGN_VERTICAL_BOTTOM);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.xlsx\n", argv[0]);
        return 2;
    }
    lxw_workbook *wb = workbook_new(argv[1]);
    if (!wb) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    lxw_doc_properties props = {};
    props.title = const_cast<char *>("Карточка контакта");
    props.comments = const_cast<char *>("Шаблон печатной формы Zentrax");
    workbook_set_properties(wb, &props);
    lxw_worksheet *ws = workbook_add_worksheet(wb, "Карточка");

    // A value: one line to write on, shrunk rather than cut when long.
    lxw_format *value = baseFormat(wb, kValueFont);
    format_set_bottom(value, LXW_BORDER_HAIR);
    format_set_bottom_color(value, kLineColour);
    format_set_shrink(value);
    format_set_indent(value, 1);
    lxw_format *name = baseFormat(wb, 13);
    format_set_bold(name);
    format_set_bottom(name, LXW_BORDER_THIN);
    format_set_shrink(name);
    format_set_indent(name, 1);
    lxw_format *label = baseFormat(wb, kLabelFont);
    format_set_font_color(label, kLabelColour);
    format_set_indent(label, 1);
    lxw_format *subLabel = baseFormat(wb, kLabelFont);
    format_set_font_color(subLabel, kLabelColour);
    format_set_align(subLabel, LXW_ALIGN_RIGHT);
    lxw_format *band = baseFormat(wb, 10);
    format_set_bold(band);
    format_set_bg_color(band, kBandColour);
    format_set_pattern(band, LXW_PATTERN_SOLID);
    format_set_align(band, LXW_ALIGN_VERTICAL_CENTER);
    format_set_indent(band, 1);
    // Several lines: habits, remarks.
    lxw_format *block = baseFormat(wb, kValueFont);
    format_set_text_wrap(block);
    format_set_align(block, LXW_ALIGN_VERTICAL_TOP);
    format_set_indent(block, 1);

    // Columns, in pixels: A:B under the photo, C labels (wide enough for
    // "Мобильный раб." in the wider fonts that stand in for Arial), D:E work values,
    // F and G small labels, G:H personal values and H the validity dates.
    const int widths[] = {79, 79, 125, 85, 85, 42, 62, 160};
    for (int c = 0; c < 8; ++c)
        worksheet_set_column_pixels(ws, lxw_col_t(c), lxw_col_t(c), uint32_t(widths[c]), nullptr);

    // The head of the form, beside the photo.
    worksheet_set_row(ws, 0, 24, nullptr);
    for (int r = 1; r < 10; ++r)
        worksheet_set_row(ws, lxw_row_t(r), 15.5, nullptr);
    const char *labels[] = {"Ф.И.О.",         "Место работы", "Должность",  "Дата рождения", "Телефон раб.",
                            "Мобильный раб.", "E-mail раб.",  "Skype раб.", "Паспорт",       "Виза"};
    for (int r = 0; r < 10; ++r)
        worksheet_write_string(ws, lxw_row_t(r), 2, labels[r], label);
    worksheet_merge_range(ws, 0, 3, 0, 7, "", name); // D1: name
    for (int r = 1; r < 3; ++r)
        worksheet_merge_range(ws, lxw_row_t(r), 3, lxw_row_t(r), 7, "", value); // D2 work, D3 post
    worksheet_merge_range(ws, 3, 3, 3, 4, "", value);                           // D4: birth date
    for (int r = 4; r < 8; ++r) {                                               // D5:D8 work, G5:G8 personal
        worksheet_merge_range(ws, lxw_row_t(r), 3, lxw_row_t(r), 4, "", value);
        worksheet_write_string(ws, lxw_row_t(r), 5, "личн.", subLabel);
        worksheet_merge_range(ws, lxw_row_t(r), 6, lxw_row_t(r), 7, "", value);
    }
    for (int r = 8; r < 10; ++r) { // D9, D10 numbers; H9, H10 dates
        worksheet_merge_range(ws, lxw_row_t(r), 3, lxw_row_t(r), 5, "", value);
        worksheet_write_string(ws, lxw_row_t(r), 6, "срок", subLabel);
        worksheet_write_blank(ws, lxw_row_t(r), 7, value);
    }

    // Habits and interests.
    worksheet_set_row(ws, 10, 10, nullptr);
    worksheet_set_row(ws, 11, 18, nullptr);
    worksheet_merge_range(ws, 11, 0, 11, 7, "Привычки и интересы", band);
    worksheet_set_row(ws, 12, 48, nullptr);
    worksheet_merge_range(ws, 12, 0, 12, 7, "", block);

    // Social networks, rows 18 to 21.
    worksheet_set_row(ws, 13, 10, nullptr);
    worksheet_set_row(ws, 14, 4, nullptr);
    worksheet_set_row(ws, 15, 18, nullptr);
    worksheet_merge_range(ws, 15, 0, 15, 7, "Социальные сети", band);
    worksheet_set_row(ws, 16, 15, nullptr);
    worksheet_merge_range(ws, 16, 0, 16, 1, "сеть", label);
    worksheet_merge_range(ws, 16, 2, 16, 7, "адрес страницы", label);
    for (int r = 17; r < 21; ++r) {
        worksheet_set_row(ws, lxw_row_t(r), 16, nullptr);
        worksheet_merge_range(ws, lxw_row_t(r), 0, lxw_row_t(r), 1, "", value);
        worksheet_merge_range(ws, lxw_row_t(r), 2, lxw_row_t(r), 7, "", value);
    }

    // Remarks fill the rest of the page.
    worksheet_set_row(ws, 21, 10, nullptr);
    worksheet_set_row(ws, 22, 18, nullptr);
    worksheet_merge_range(ws, 22, 0, 22, 7, "Примечания", band);
    worksheet_set_row(ws, 23, 300, nullptr);
    worksheet_merge_range(ws, 23, 0, 23, 7, "", block);

    // One A4 page, upright.
    worksheet_set_paper(ws, 9);
    worksheet_set_portrait(ws);
    worksheet_set_margins(ws, 0.4, 0.4, 0.6, 0.6);
    worksheet_center_horizontally(ws);
    worksheet_print_area(ws, 0, 0, 23, 7);
    worksheet_fit_to_pages(ws, 1, 1);
    worksheet_set_footer(ws, "&L&\"Arial\"&8Карточка контакта&R&\"Arial\"&8&D");

    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], lxw_strerror(err));
        return 1;
    }
    return 0;
}
