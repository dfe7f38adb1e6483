#include "tools/prosett/page.hpp"

#include "core/text.hpp"
#include "tools/prosett/log.hpp"

#include <cstdio>
#include <stdexcept>

namespace vaskit::prosett {

const std::string_view PAGE_TEMPLATE = R"PAGE(<!DOCTYPE html>
<html>
<head>
    <meta charset="UTF-8">
    <title>{title}</title>
    <style>
        body {{
            font-family: -apple-system, BlinkMacSystemFont, "Segoe UI", Helvetica, Arial, sans-serif, "Apple Color Emoji", "Segoe UI Emoji";
            max-width: 950px;
            margin: 0 auto;
            padding: 50px 30px;
            line-height: 1.65;
            color: #37352f;
            background-color: #ffffff;
        }}

        /* 💡 Watermark Layer */
        {watermark_css}

        code:not(pre > code) {{
            font-family: SFMono-Regular, Menlo, Consolas, "PT Mono", "Liberation Mono", Courier, monospace;
            color: #eb5757;
            background-color: #f7f6f3;
            padding: 0.2em 0.4em;
            border-radius: 3px;
            font-size: 85%;
            border: 1px solid #edeef0;
        }}

        pre {{
            background: #f7f6f3;
            padding: 16px;
            border-radius: 8px;
            overflow-x: auto;
            border: 1px solid #edeef0;
            margin: 1.5em 0;
        }}

        pre > code {{
            font-family: SFMono-Regular, Menlo, Consolas, "PT Mono", "Liberation Mono", Courier, monospace;
            color: inherit;
            background-color: transparent;
            padding: 0;
            border-radius: 0;
            font-size: 90%;
            border: none;
        }}

        h1, h2, h3, h4, h5, h6 {{
            margin-top: 24px;
            margin-bottom: 16px;
            font-weight: 600;
            line-height: 1.25;
            color: #1F2328;
        }}

        h1 {{
            font-size: 2em;
            padding-bottom: 0.3em;
            border-bottom: 1px solid #d0d7de;
        }}

        h2 {{
            font-size: 1.5em;
            padding-bottom: 0.3em;
            border-bottom: 1px solid #d0d7de;
        }}

        h3 {{
            font-size: 1.25em;
        }}

        ul, ol {{
            padding-left: 40px;
            margin: 0.8em 0;
        }}

        li {{
            margin: 0.3em 0;
        }}

        hr {{
            border: 0;
            border-top: 1px solid #edeef0;
            margin: 2em 0;
        }}

        a {{
            color: #2eaadc;
            text-decoration: none;
        }}

        a:hover {{
            text-decoration: underline;
        }}

        table {{
            border-collapse: collapse;
            width: 100%;
            margin: 1.5em 0;
            font-size: 0.95em;
        }}

        th, td {{
            border: 1px solid #d0d7de;
            padding: 8px 13px;
            text-align: left;
        }}

        th {{
            background-color: #f6f8fa;
            font-weight: 600;
        }}

        tr:nth-child(even) {{
            background-color: #f6f8fa;
        }}

        blockquote {{
            padding: 0 1em;
            color: #636c76;
            border-left: 0.25em solid #d0d7de;
            margin: 1.5em 0;
        }}

        .markdown-alert {{
            padding: 0.6rem 1rem;
            margin: 1.2em 0;
            color: inherit;
            border-left: 0.25em solid;
            border-radius: 0 6px 6px 0;
        }}

        .markdown-alert > :first-child {{
            margin-top: 0;
        }}

        .markdown-alert > :last-child {{
            margin-bottom: 0;
        }}

        .markdown-alert .markdown-alert-title {{
            display: flex;
            align-items: center;
            font-weight: 600;
            line-height: 1.25;
            margin-bottom: 0.35rem;
        }}

        .markdown-alert .markdown-alert-title svg {{
            margin-right: 0.5rem;
            flex-shrink: 0;
        }}

        .markdown-alert.markdown-alert-note {{
            border-left-color: #0969da;
            background-color: #f0f7ff;
        }}

        .markdown-alert.markdown-alert-note .markdown-alert-title {{
            color: #0969da;
        }}

        .markdown-alert.markdown-alert-tip {{
            border-left-color: #1a7f37;
            background-color: #f0fdf4;
        }}

        .markdown-alert.markdown-alert-tip .markdown-alert-title {{
            color: #1a7f37;
        }}

        .markdown-alert.markdown-alert-important {{
            border-left-color: #8250df;
            background-color: #fbf5ff;
        }}

        .markdown-alert.markdown-alert-important .markdown-alert-title {{
            color: #8250df;
        }}

        .markdown-alert.markdown-alert-warning {{
            border-left-color: #bf8700;
            background-color: #fffbeb;
        }}

        .markdown-alert.markdown-alert-warning .markdown-alert-title {{
            color: #9a6700;
        }}

        .markdown-alert.markdown-alert-caution {{
            border-left-color: #cf222e;
            background-color: #fff1f2;
        }}

        .markdown-alert.markdown-alert-caution .markdown-alert-title {{
            color: #cf222e;
        }}

        .toc {{
            margin: 1.5em 0;
            padding: 12px 18px;
            background-color: #fbfbfa;
            border: 1px solid #edeef0;
            border-radius: 6px;
        }}

        .toc ul {{
            list-style-type: none;
            padding-left: 40px;
            margin: 0;
        }}

        .toc > ul {{
            padding-left: 0;
        }}

        .toc li {{
            margin: 0.25em 0;
            line-height: 1.45;
        }}

        .toc li + li {{
            margin-top: 0.25em;
        }}

        li + li {{
            margin-top: 0.25em;
        }}

        details {{
            margin-bottom: 1em;
            padding: 10px 14px;
            background: #fbfbfa;
            border: 1px solid #edeef0;
            border-radius: 6px;
        }}

        summary {{
            cursor: pointer;
            font-weight: 500;
            outline: none;
            user-select: none;
            color: #37352f;
            margin-bottom: 0.5em;
        }}

        details[open] summary {{
            margin-bottom: 0.8em;
        }}

        img {{
            max-width: 100%;
            height: auto;
            margin: 10px 0;
            border-radius: 4px;
        }}

        ::-webkit-scrollbar {{
            width: 0 !important;
            height: 0 !important;
            display: none !important;
            background: transparent !important;
        }}

        mjx-container,
        mjx-container[display="true"],
        mjx-container[jax="CHTML"],
        mjx-container[overflow="auto"],
        mjx-container[jax="CHTML"][overflow="auto"],
        mjx-container[jax="CHTML"][display="true"][overflow="auto"],
        .MathJax {{
            display: inline-block;
            max-width: 100%;
            overflow-x: auto !important;
            overflow-y: hidden !important;
            vertical-align: middle;
            scrollbar-width: none !important;
            -ms-overflow-style: none !important;
            box-sizing: border-box !important;
        }}

        mjx-container[display="true"],
        mjx-container[jax="CHTML"][display="true"] {{
            display: block !important;
            max-width: 100%;
            padding: 0.5em 0;
            overflow-x: auto !important;
            overflow-y: hidden !important;
            box-sizing: border-box !important;
        }}

        mjx-container::-webkit-scrollbar,
        mjx-container *::-webkit-scrollbar,
        mjx-container[overflow="auto"]::-webkit-scrollbar,
        .MathJax::-webkit-scrollbar,
        .MathJax *::-webkit-scrollbar {{
            display: none !important;
            width: 0 !important;
            height: 0 !important;
            background: transparent !important;
        }}

        blockquote mjx-container[display="true"],
        .markdown-alert mjx-container[display="true"] {{
            text-align: left !important;
        }}

        div[style*="margin"] mjx-container[display="true"] {{
            text-align: left !important;
        }}

        div[style*="padding"] mjx-container[display="true"] {{
            text-align: left !important;
        }}

        blockquote mjx-container[display="true"] > mjx-math,
        .markdown-alert mjx-container[display="true"] > mjx-math {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}

        div[style*="margin"] mjx-container[display="true"] > mjx-math {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}

        div[style*="padding"] mjx-container[display="true"] > mjx-math {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}

        blockquote mjx-container[display="true"] svg,
        .markdown-alert mjx-container[display="true"] svg {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}

        div[style*="margin"] mjx-container[display="true"] svg {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}

        div[style*="padding"] mjx-container[display="true"] svg {{
            margin-left: 0 !important;
            margin-right: auto !important;
        }}
    </style>
    <script type="module">
        import mermaid from 'https://cdn.jsdelivr.net/npm/mermaid@10.9.1/dist/mermaid.esm.min.mjs';
        mermaid.initialize({{
            startOnLoad: true,
            theme: 'forest',
            securityLevel: 'loose',
            fontFamily: '-apple-system, BlinkMacSystemFont, "Segoe UI", Helvetica, Arial, sans-serif'
        }});
    </script>
    <!-- MathJax for LaTeX formula rendering -->
    <script>
        window.MathJax = {{
            tex: {{
                inlineMath: [['\\(', '\\)']],
                displayMath: [['$$', '$$'], ['\\[', '\\]']],
                processEscapes: true
            }},
            options: {{
                ignoreHtmlClass: 'tex2jax_ignore',
                processHtmlClass: 'tex2jax_process'
            }},
            chtml: {{
                displayOverflow: 'scale'
            }},
            svg: {{
                displayOverflow: 'scale'
            }},
            startup: {{
                pageReady: () => {{
                    return MathJax.startup.defaultPageReady().then(() => {{
                        document.querySelectorAll('mjx-container').forEach((el) => {{
                            el.style.scrollbarWidth = 'none';
                            el.style.msOverflowStyle = 'none';
                        }});
                    }});
                }}
            }}
        }};
    </script>
    <script id="MathJax-script" async src="https://cdn.jsdelivr.net/npm/mathjax@3/es5/tex-mml-chtml.js"></script>
    <!-- WaveDrom for timing diagram rendering -->
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/default.js"></script>
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/skins/narrow.js"></script>
    <script type="text/javascript" src="https://cdn.jsdelivr.net/npm/wavedrom@3.5.0/wavedrom.min.js"></script>
    <script>
        document.addEventListener("DOMContentLoaded", function () {{
            if (typeof WaveDrom !== 'undefined') {{
                WaveDrom.ProcessAll();
            }}
        }});
    </script>
</head>
<body>
    <article>
        {content}
    </article>
</body>
</html>)PAGE";

namespace {

constexpr std::string_view kWatermarkHead =
    "\n            /* 💡 Watermark Layer */\n            body::after {\n"
    "                content: \"\";\n"
    "                position: fixed;\n"
    "                top: 0;\n"
    "                left: 0;\n"
    "                width: 100%;\n"
    "                height: 100%;\n"
    "                background-image: url(\"data:image/svg+xml;utf8,<svg "
    "xmlns='http://www.w3.org/2000/svg' width='250' height='150' viewBox='0 0 250 150'><text "
    "x='50%' y='50%' text-anchor='middle' fill='rgba(150, 150, 150, 0.1)' font-size='24' "
    "font-family='Arial' transform='rotate(-30, 150, 100)'>";

constexpr std::string_view kWatermarkTail = "</text></svg>\");\n"
                                            "                background-repeat: repeat;\n"
                                            "                pointer-events: none;\n"
                                            "                z-index: 1000;\n"
                                            "            }";

// Text content of the SVG inside a URL inside a double-quoted CSS string: XML-escaped first,
// then percent-encoded wherever the URL, the CSS string or the style element would read a
// character as syntax. C0 controls other than tab and line breaks are not allowed in XML at all
// and are dropped; every other character, UTF-8 included, goes in as it is.
std::string escape_watermark_text(std::string_view text) {
  const std::string xml = text::replace_all(text::html_escape(text, true), "'", "&apos;");
  std::string out;
  for (char ch : xml) {
    const auto c = static_cast<unsigned char>(ch);
    const bool control = c < 0x20 || c == 0x7F;
    if (control && c != '\t' && c != '\n' && c != '\r')
      continue;
    if (control || c == '%' || c == '#' || c == '"' || c == '<' || c == '>' || c == '&' ||
        c == '\'' || c == '\\') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

// Fills named {slots} in one left-to-right pass; "{{" and "}}" give single braces.
std::string fill_template(std::string_view tmpl, std::string_view title, std::string_view css,
                          std::string_view content) {
  std::string out;
  out.reserve(tmpl.size() + title.size() + css.size() + content.size());
  for (std::size_t i = 0; i < tmpl.size();) {
    const char c = tmpl[i];
    if ((c == '{' || c == '}') && i + 1 < tmpl.size() && tmpl[i + 1] == c) {
      out += c;
      i += 2;
      continue;
    }
    if (c != '{') {
      out += c;
      ++i;
      continue;
    }
    const std::size_t close = tmpl.find('}', i);
    const std::string_view name =
        close == std::string_view::npos ? "" : tmpl.substr(i + 1, close - i - 1);
    if (name == "title")
      out += title;
    else if (name == "watermark_css")
      out += css;
    else if (name == "content")
      out += content;
    else
      throw std::logic_error("page template: unknown slot at offset " + std::to_string(i));
    i = close + 1;
  }
  return out;
}

} // namespace

std::string watermark_css(std::string_view watermark_text) {
  if (watermark_text.empty())
    return "";
  std::string css(kWatermarkHead);
  css += escape_watermark_text(watermark_text);
  css += kWatermarkTail;
  return css;
}

std::string generate_final_html(const std::string &md_name, const std::string &html_body,
                                const std::string &watermark_text) {
  log().info("✅ 生成最終 HTML 頁面：" + md_name);
  return fill_template(PAGE_TEMPLATE, text::html_escape(md_name), watermark_css(watermark_text),
                       html_body);
}

} // namespace vaskit::prosett
