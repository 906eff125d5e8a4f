#include "pictures/PictureBook.h"

#include <cairo.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pictures {

namespace {

struct Rgb {
  double r, g, b, a = 1;
};

constexpr Rgb rgb(double r, double g, double b, double a = 1) {
  return {r / 255, g / 255, b / 255, a};
}

// The application's colours: accent orange, the pressed orange of the tab highlight, greys.
constexpr Rgb kOrange = rgb(240, 142, 59);
constexpr Rgb kPressedOrange = rgb(210, 118, 13);
constexpr Rgb kWhite = rgb(255, 255, 255);
constexpr Rgb kDark = rgb(80, 80, 80);
constexpr Rgb kCaption = rgb(150, 150, 150);
constexpr Rgb kFinished = rgb(200, 200, 200);
constexpr Rgb kEmpty = rgb(232, 232, 232);
constexpr Rgb kLight = rgb(240, 240, 240);
constexpr Rgb kRed = rgb(214, 76, 56);
constexpr Rgb kPressedRed = rgb(180, 56, 40);
constexpr Rgb kSlate = rgb(96, 110, 130);
constexpr Rgb kPressedSlate = rgb(70, 82, 100);

void color(cairo_t* cr, Rgb c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::min({r, w / 2, h / 2});
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void fillRounded(cairo_t* cr, double x, double y, double w, double h, double r, Rgb c) {
  cairo_new_path(cr);
  roundedRect(cr, x, y, w, h, r);
  color(cr, c);
  cairo_fill(cr);
}

void strokeRounded(cairo_t* cr, double x, double y, double w, double h, double r, double line,
                   Rgb c) {
  cairo_new_path(cr);
  roundedRect(cr, x + line / 2, y + line / 2, w - line, h - line, r);
  cairo_set_line_width(cr, line);
  color(cr, c);
  cairo_stroke(cr);
}

void circle(cairo_t* cr, double cx, double cy, double r, Rgb c) {
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  color(cr, c);
  cairo_fill(cr);
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1, double width, Rgb c) {
  cairo_new_path(cr);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  color(cr, c);
  cairo_stroke(cr);
}

void polygon(cairo_t* cr, std::initializer_list<std::pair<double, double>> points, Rgb c) {
  cairo_new_path(cr);
  bool first = true;
  for (auto [x, y] : points) {
    if (first) {
      cairo_move_to(cr, x, y);
      first = false;
    } else {
      cairo_line_to(cr, x, y);
    }
  }
  cairo_close_path(cr);
  color(cr, c);
  cairo_fill(cr);
}

// An open chevron in a w x h box, pointing right or left.
void chevron(cairo_t* cr, double x, double y, double w, double h, bool right, double width, Rgb c) {
  cairo_new_path(cr);
  double tip = right ? x + w : x;
  double tail = right ? x : x + w;
  cairo_move_to(cr, tail, y);
  cairo_line_to(cr, tip, y + h / 2);
  cairo_line_to(cr, tail, y + h);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  color(cr, c);
  cairo_stroke(cr);
}

// `text` centred in the box, in the CJK face the application draws with.
void label(cairo_t* cr, const char* text, double x, double y, double w, double h, double size,
           Rgb c, bool bold = true) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("WenQuanYi Micro Hei,sans-serif");
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, text, -1);
  PangoRectangle ink, logical;
  pango_layout_get_extents(layout, &ink, &logical);
  double tw = logical.width / double(PANGO_SCALE), th = logical.height / double(PANGO_SCALE);
  cairo_move_to(cr, x + (w - tw) / 2, y + (h - th) / 2);
  color(cr, c);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// A rounded button face with an optional word on it.
Picture button(const std::string& name, double w, double h, Rgb fill, const char* text = nullptr,
               Rgb ink = kWhite) {
  return {name, w, h, [fill, text, ink](cairo_t* cr, double w, double h) {
            fillRounded(cr, 0, 0, w, h, std::min(6.0, h / 4), fill);
            if (text) label(cr, text, 0, 0, w, h, std::min(18.0, h * 0.45), ink);
          }};
}

// A light button face with a thin border, for buttons whose title the screen sets.
Picture lightButton(const std::string& name, double w, double h, Rgb fill,
                    const char* text = nullptr) {
  return {name, w, h, [fill, text](cairo_t* cr, double w, double h) {
            fillRounded(cr, 0, 0, w, h, 5, fill);
            strokeRounded(cr, 0, 0, w, h, 5, 1, kFinished);
            if (text) label(cr, text, 0, 0, w, h, std::min(16.0, h * 0.45), kDark);
          }};
}

void drawBook(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
  fillRounded(cr, x, y, w, h, std::min(w, h) / 10, c);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.9);
  cairo_rectangle(cr, x + w * 0.18, y, w * 0.06, h);
  cairo_fill(cr);
}

// An arrow pointing down onto a line.
void downloadArrow(cairo_t* cr, double x, double y, double w, double h, Rgb c, double width) {
  line(cr, x + w / 2, y + width / 2, x + w / 2, y + h * 0.66, width, c);
  cairo_new_path(cr);
  cairo_move_to(cr, x + w * 0.2, y + h * 0.42);
  cairo_line_to(cr, x + w / 2, y + h * 0.68);
  cairo_line_to(cr, x + w * 0.8, y + h * 0.42);
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  color(cr, c);
  cairo_stroke(cr);
  line(cr, x + w * 0.1, y + h * 0.92, x + w * 0.9, y + h * 0.92, width, c);
}

void clockFace(cairo_t* cr, double cx, double cy, double r, double width, Rgb c) {
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, r - width / 2, 0, 2 * M_PI);
  cairo_set_line_width(cr, width);
  color(cr, c);
  cairo_stroke(cr);
  line(cr, cx, cy, cx, cy - r * 0.55, width, c);
  line(cr, cx, cy, cx + r * 0.4, cy + r * 0.2, width, c);
}

void gear(cairo_t* cr, double cx, double cy, double r, Rgb c) {
  cairo_new_path(cr);
  for (int i = 0; i < 8; ++i) {
    double a = i * M_PI / 4;
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, a);
    cairo_rectangle(cr, -r * 0.16, -r, r * 0.32, r * 0.4);
    cairo_restore(cr);
  }
  color(cr, c);
  cairo_fill(cr);
  circle(cr, cx, cy, r * 0.72, c);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  circle(cr, cx, cy, r * 0.3, c);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
}

void speaker(cairo_t* cr, double w, double h, Rgb c) {
  polygon(cr,
          {{w * 0.1, h * 0.36},
           {w * 0.3, h * 0.36},
           {w * 0.55, h * 0.12},
           {w * 0.55, h * 0.88},
           {w * 0.3, h * 0.64},
           {w * 0.1, h * 0.64}},
          c);
}

// One page illustration of the first-run guide: a phone with a sketch of a screen on it.
Picture guidePage(int page) {
  return {"help" + std::to_string(page), 440, 560, [page](cairo_t* cr, double w, double h) {
            double px = w * 0.2, py = 10, pw = w * 0.6, ph = h - 20;
            fillRounded(cr, px, py, pw, ph, 36, rgb(60, 60, 60));
            double sx = px + 16, sy = py + 60, sw = pw - 32, sh = ph - 130;
            fillRounded(cr, sx, sy, sw, sh, 6, kWhite);
            circle(cr, px + pw / 2, py + ph - 36, 18, rgb(90, 90, 90));
            fillRounded(cr, sx, sy, sw, 36, 6, kLight);
            fillRounded(cr, sx, sy + 34, sw, 3, 1, kOrange);
            double cx = sx + sw / 2, cy = sy + sh / 2 + 10;
            switch (page) {
              case 1:  // choose a region: a map pin
                circle(cr, cx, cy - 40, 46, kOrange);
                polygon(cr, {{cx - 38, cy - 14}, {cx + 38, cy - 14}, {cx, cy + 70}}, kOrange);
                circle(cr, cx, cy - 40, 18, kWhite);
                break;
              case 2:  // log in: two fields and a button
                for (int i = 0; i < 2; ++i) {
                  fillRounded(cr, sx + 20, cy - 110 + i * 60, sw - 40, 40, 6, kLight);
                  strokeRounded(cr, sx + 20, cy - 110 + i * 60, sw - 40, 40, 6, 2, kFinished);
                }
                fillRounded(cr, sx + 20, cy + 20, sw - 40, 44, 8, kOrange);
                fillRounded(cr, sx + 20, cy + 80, sw - 40, 44, 8, kSlate);
                break;
              case 3:  // my courses: a list of rows
              case 4:  // local courses: rows with a download arrow
                for (int i = 0; i < 4; ++i) {
                  double ry = sy + 60 + i * 62;
                  fillRounded(cr, sx + 16, ry, 36, 44, 4, page == 3 ? kOrange : kSlate);
                  fillRounded(cr, sx + 64, ry + 6, sw - 90, 10, 4, kFinished);
                  fillRounded(cr, sx + 64, ry + 26, (sw - 90) * 0.6, 8, 4, kEmpty);
                }
                if (page == 4) downloadArrow(cr, cx - 30, sy + sh - 90, 60, 70, kOrange, 8);
                break;
              case 5:  // video lectures: a player with a play button
                fillRounded(cr, sx + 12, cy - 90, sw - 24, 150, 6, rgb(30, 30, 30));
                polygon(cr, {{cx - 22, cy - 45}, {cx + 30, cy - 15}, {cx - 22, cy + 15}}, kWhite);
                fillRounded(cr, sx + 24, cy + 80, sw - 48, 8, 4, kFinished);
                fillRounded(cr, sx + 24, cy + 80, (sw - 48) * 0.4, 8, 4, kOrange);
                break;
              default:  // study records: bars of minutes
                for (int i = 0; i < 5; ++i) {
                  double bh = 40 + 30 * ((i * 7) % 5);
                  fillRounded(cr, sx + 24 + i * (sw - 48) / 5, cy + 90 - bh, (sw - 48) / 5 - 10, bh,
                              4, i % 2 ? kSlate : kOrange);
                }
                line(cr, sx + 16, cy + 92, sx + sw - 16, cy + 92, 3, kCaption);
                break;
            }
          }};
}

std::vector<Picture> makeBook() {
  std::vector<Picture> book;
  auto add = [&book](Picture p) { book.push_back(std::move(p)); };

  // Row arrows and list headers.
  add({"arraw", 4, 6, [](cairo_t* cr, double w, double h) {
         polygon(cr, {{0, 0}, {w, h / 2}, {0, h}}, kOrange);
       }});
  add({"arraw_finish", 4, 6, [](cairo_t* cr, double w, double h) {
         polygon(cr, {{0, 0}, {w, h / 2}, {0, h}}, kFinished);
       }});
  add({"arraw_left", 7, 11, [](cairo_t* cr, double w, double h) {
         chevron(cr, 1.5, 1.5, w - 3, h - 3, false, 2, kCaption);
       }});
  add({"arraw_right", 7, 11, [](cairo_t* cr, double w, double h) {
         chevron(cr, 1.5, 1.5, w - 3, h - 3, true, 2, kCaption);
       }});
  add({"head_jia", 15, 15, [](cairo_t* cr, double w, double h) {
         strokeRounded(cr, 0, 0, w, h, w / 2, 1.2, kCaption);
         line(cr, w * 0.28, h / 2, w * 0.72, h / 2, 1.6, kDark);
         line(cr, w / 2, h * 0.28, w / 2, h * 0.72, 1.6, kDark);
       }});
  add({"head_jian", 15, 15, [](cairo_t* cr, double w, double h) {
         strokeRounded(cr, 0, 0, w, h, w / 2, 1.2, kWhite);
         line(cr, w * 0.28, h / 2, w * 0.72, h / 2, 1.6, kWhite);
       }});
  add({"checkbox_uncheck_big", 16, 16, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, 0, 0, w, h, 3, kWhite);
         strokeRounded(cr, 0, 0, w, h, 3, 1.2, kCaption);
       }});
  add({"checkbox_check_big", 16, 16, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, 0, 0, w, h, 3, kOrange);
         cairo_new_path(cr);
         cairo_move_to(cr, w * 0.22, h * 0.52);
         cairo_line_to(cr, w * 0.43, h * 0.72);
         cairo_line_to(cr, w * 0.78, h * 0.3);
         cairo_set_line_width(cr, 2);
         cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
         color(cr, kWhite);
         cairo_stroke(cr);
       }});

  // Back buttons of the light navigation bars and of the dark player bar.
  add({"btn_back_2", 44, 44,
       [](cairo_t* cr, double, double) { chevron(cr, 16, 13, 10, 18, false, 2.6, kDark); }});
  add({"btn_video_back", 44, 44,
       [](cairo_t* cr, double, double) { chevron(cr, 16, 13, 10, 18, false, 2.6, kWhite); }});

  // Button faces. Those the screens give no title carry their word.
  add(button("btn_bg", 100, 30, kOrange));
  add(lightButton("btn_bg1", 100, 30, kLight));
  add(lightButton("btn_cancel", 90, 30, kLight));
  add(lightButton("btn_cancel_p", 90, 30, kFinished));
  add(button("btn_normal", 90, 30, kOrange));
  add(button("btn_normal_p", 90, 30, kPressedOrange));
  add(lightButton("btn_selectAll", 90, 35, kLight, "编辑"));
  add(lightButton("btn_selectAll_p", 90, 35, kFinished, "编辑"));
  add(button("btn_clear", 172, 30, kOrange, "清空记录"));
  add(button("btn_clear_p", 172, 30, kPressedOrange, "清空记录"));
  add(button("btn_refresh", 162, 36, kOrange, "刷新"));
  add(button("btn_refresh_p", 162, 36, kPressedOrange, "刷新"));
  add(button("btn_sync", 80, 25, kOrange, "同步"));
  add(button("btn_sync_p", 80, 25, kPressedOrange, "同步"));
  add(button("btn_loginOnline", 260, 45, kOrange, "在线登录"));
  add(button("btn_loginOnline_p", 260, 45, kPressedOrange, "在线登录"));
  add(button("btn_loginOffline", 260, 45, kSlate, "离线登录"));
  add(button("btn_loginOffline_p", 260, 45, kPressedSlate, "离线登录"));
  add(button("btn_logout", 260, 45, kRed, "退出登录"));
  add(button("btn_logout_p", 260, 45, kPressedRed, "退出登录"));
  add(button("jc", 260, 45, kOrange, "检查更新"));
  add(
      button("jc\xEF\xBC\x8D"
             "1",
             260, 45, kPressedOrange, "检查更新"));  // U+FF0D
  add(button("begin", 100, 30, kOrange, "开始使用"));

  // The player's controls, white on its black bars.
  add({"btn_last", 24, 24, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, w * 0.15, h * 0.2, 3, h * 0.6, 1, kWhite);
         polygon(cr, {{w * 0.85, h * 0.2}, {w * 0.3, h / 2}, {w * 0.85, h * 0.8}}, kWhite);
       }});
  add({"btn_next", 24, 24, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, w * 0.85 - 3, h * 0.2, 3, h * 0.6, 1, kWhite);
         polygon(cr, {{w * 0.15, h * 0.2}, {w * 0.7, h / 2}, {w * 0.15, h * 0.8}}, kWhite);
       }});
  add({"btn_play", 30, 30, [](cairo_t* cr, double w, double h) {
         polygon(cr, {{w * 0.3, h * 0.18}, {w * 0.82, h / 2}, {w * 0.3, h * 0.82}}, kWhite);
       }});
  add({"btn_pause", 30, 30, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, w * 0.25, h * 0.2, w * 0.16, h * 0.6, 1.5, kWhite);
         fillRounded(cr, w * 0.59, h * 0.2, w * 0.16, h * 0.6, 1.5, kWhite);
       }});
  add({"btn_switch_sound", 39, 24, [](cairo_t* cr, double w, double h) {
         strokeRounded(cr, 0, 0, w, h, 5, 1.2, kWhite);
         circle(cr, w * 0.42, h * 0.68, 3, kWhite);
         line(cr, w * 0.42 + 2.5, h * 0.68, w * 0.42 + 2.5, h * 0.22, 1.4, kWhite);
         line(cr, w * 0.42 + 2.5, h * 0.22, w * 0.64, h * 0.32, 1.4, kWhite);
       }});
  add({"btn_switch_video", 39, 24, [](cairo_t* cr, double w, double h) {
         strokeRounded(cr, 0, 0, w, h, 5, 1.2, kWhite);
         fillRounded(cr, w * 0.22, h * 0.28, w * 0.38, h * 0.44, 2, kWhite);
         polygon(cr, {{w * 0.62, h / 2}, {w * 0.8, h * 0.3}, {w * 0.8, h * 0.7}}, kWhite);
       }});
  add({"sound", 22, 22, [](cairo_t* cr, double w, double h) {
         speaker(cr, w, h, kWhite);
         cairo_new_path(cr);
         cairo_arc(cr, w * 0.55, h / 2, w * 0.28, -M_PI / 4, M_PI / 4);
         cairo_set_line_width(cr, 1.6);
         color(cr, kWhite);
         cairo_stroke(cr);
       }});
  add({"sound_clear", 22, 22, [](cairo_t* cr, double w, double h) {
         speaker(cr, w, h, kWhite);
         line(cr, w * 0.68, h * 0.36, w * 0.92, h * 0.64, 1.6, kWhite);
         line(cr, w * 0.92, h * 0.36, w * 0.68, h * 0.64, 1.6, kWhite);
       }});
  add({"thumb", 20, 20, [](cairo_t* cr, double w, double h) {
         circle(cr, w / 2, h / 2, w / 2 - 1, kFinished);
         circle(cr, w / 2, h / 2, w / 2 - 2, kWhite);
       }});
  add({"sound_thumb", 16, 16, [](cairo_t* cr, double w, double h) {
         circle(cr, w / 2, h / 2, w / 2 - 1, kFinished);
         circle(cr, w / 2, h / 2, w / 2 - 2, kWhite);
       }});
  add({"min", 22, 4, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, 0, 0, w, h, h / 2, rgb(110, 110, 110));
       }});
  add({"max", 22, 4,
       [](cairo_t* cr, double w, double h) { fillRounded(cr, 0, 0, w, h, h / 2, kOrange); }});
  add({"sound_progress_bg", 22, 4,
       [](cairo_t* cr, double w, double h) { fillRounded(cr, 0, 0, w, h, h / 2, kFinished); }});

  // The tab bar: white icons on its orange, and the bar itself.
  add({"icon_mycourse", 15, 19,
       [](cairo_t* cr, double w, double h) { drawBook(cr, 0.5, 0.5, w - 1, h - 1, kWhite); }});
  add({"icon_localcourse", 18, 18,
       [](cairo_t* cr, double w, double h) { downloadArrow(cr, 0, 0, w, h, kWhite, 1.8); }});
  add({"btn_studylog_s", 13, 13,
       [](cairo_t* cr, double w, double h) { clockFace(cr, w / 2, h / 2, w / 2, 1.4, kWhite); }});
  add({"icon_setting", 14, 14,
       [](cairo_t* cr, double w, double h) { gear(cr, w / 2, h / 2, w / 2, kWhite); }});
  add({"c-2-1", 320, 49, [](cairo_t* cr, double w, double h) {
         color(cr, kOrange);
         cairo_rectangle(cr, 0, 0, w, h);
         cairo_fill(cr);
       }});

  // Covers, empty states, the about page.
  add({"conver_default", 72, 93, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, 0, 0, w, h, 4, kOrange);
         fillRounded(cr, 8, 0, 5, h, 0, kPressedOrange);
         for (int i = 0; i < 3; ++i) {
           fillRounded(cr, 20, 20 + i * 12, w - 30, 5, 2, kWhite);
         }
         label(cr, "课程", 14, h - 36, w - 20, 24, 14, kWhite);
       }});
  add({"select_course", 95, 82, [](cairo_t* cr, double w, double h) {
         drawBook(cr, w * 0.25, h * 0.08, w * 0.5, h * 0.84, kEmpty);
       }});
  add({"select_download", 95, 82, [](cairo_t* cr, double w, double h) {
         downloadArrow(cr, w * 0.22, h * 0.06, w * 0.56, h * 0.88, kEmpty, 7);
       }});
  add({"studylog", 95, 82,
       [](cairo_t* cr, double w, double h) { clockFace(cr, w / 2, h / 2, h * 0.45, 6, kEmpty); }});
  add({"nohisoty_notify", 95, 82, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, w * 0.2, h * 0.06, w * 0.6, h * 0.88, 6, kEmpty);
         for (int i = 0; i < 4; ++i) {
           fillRounded(cr, w * 0.3, h * (0.2 + i * 0.17), w * 0.4, 5, 2, kWhite);
         }
       }});
  add({"logo", 120, 34, [](cairo_t* cr, double w, double h) {
         fillRounded(cr, 0, 0, h, h, 7, kOrange);
         label(cr, "澄", 0, 0, h, h, 22, kWhite);
         label(cr, "澄衡会计", h + 2, 0, w - h - 2, h, 20, kOrange);
       }});
  add({"q", 12, 12, [](cairo_t* cr, double w, double h) {
         circle(cr, w / 2, h / 2, w / 2, kOrange);
         label(cr, "Q", 0, 0, w, h, 9, kWhite);
       }});
  add({"a", 12, 12, [](cairo_t* cr, double w, double h) {
         circle(cr, w / 2, h / 2, w / 2, kSlate);
         label(cr, "A", 0, 0, w, h, 9, kWhite);
       }});

  // The first-run guide: the page background, six illustrations and the last page.
  add({"help", 320, 480, [](cairo_t* cr, double w, double h) {
         cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, h);
         cairo_pattern_add_color_stop_rgb(p, 0, 1, 1, 1);
         cairo_pattern_add_color_stop_rgb(p, 1, 248 / 255.0, 240 / 255.0, 230 / 255.0);
         cairo_set_source(cr, p);
         cairo_paint(cr);
         cairo_pattern_destroy(p);
         fillRounded(cr, 0, h - 6, w, 6, 0, kOrange);
       }});
  for (int page = 1; page <= 6; ++page) add(guidePage(page));
  add({"help7", 320, 480, [](cairo_t* cr, double w, double h) {
         cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, h);
         cairo_pattern_add_color_stop_rgb(p, 0, kOrange.r, kOrange.g, kOrange.b);
         cairo_pattern_add_color_stop_rgb(p, 1, kPressedOrange.r, kPressedOrange.g,
                                          kPressedOrange.b);
         cairo_set_source(cr, p);
         cairo_paint(cr);
         cairo_pattern_destroy(p);
         label(cr, "澄衡会计继续教育", 0, 120, w, 40, 26, kWhite);
         label(cr, "随时随地 轻松学习", 0, 165, w, 24, 15, kWhite, false);
       }});
  return book;
}

bool writePng(const Picture& picture, double scale, const std::string& path, std::string* error) {
  int width = static_cast<int>(std::ceil(picture.width * scale));
  int height = static_cast<int>(std::ceil(picture.height * scale));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  picture.draw(cr, picture.width, picture.height);
  cairo_destroy(cr);
  std::string partial = path + ".part" + std::to_string(::getpid());
  cairo_status_t status = cairo_surface_write_to_png(surface, partial.c_str());
  cairo_surface_destroy(surface);
  std::error_code ec;
  if (status == CAIRO_STATUS_SUCCESS) std::filesystem::rename(partial, path, ec);
  if (status != CAIRO_STATUS_SUCCESS || ec) {
    std::filesystem::remove(partial, ec);
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

const std::vector<Picture>& PictureBook::all() {
  static const std::vector<Picture> book = makeBook();
  return book;
}

bool PictureBook::writeAll(const std::string& folder, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const auto& picture : all()) {
    std::string base = folder + "/" + picture.name;
    if (!writePng(picture, 1, base + ".png", error)) return false;
    if (!writePng(picture, 2, base + "@2x.png", error)) return false;
  }
  return true;
}

}  // namespace pictures
