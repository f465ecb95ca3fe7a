#include "converters/document/table_to_pdf.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

#include "converters/document/document_files.h"
#include "converters/document/html_to_pdf.h"
#include "converters/document/page_session.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "core/work_folder.h"
#include "platform/pdf/page_assembly.h"

namespace calvoro::DocumentConverter {
namespace {

constexpr int viewWidth = 816;  // CSS pixels: US Letter at 96 per inch
constexpr double pageHeight = 1056;
constexpr double pageMargin = 32;  // above and below the rows of every page
// Printed text can run a little taller than the same text shown (the engine measures glyphs for
// print apart from the screen), so rows measured on screen fill only this share of a page.
constexpr double pageFill = 0.94;
// One layout holds no more text than this: the renderer's memory grows with what it lays out.
constexpr size_t sliceBytes = 1 << 20;
// Printing holds every page of a layout at once: a layout prints no more pages than this.
constexpr double slicePages = 40;
// A row is printed whole, so one taller than a layout's pages, or longer than its text, is refused.
constexpr const char* rowTooLongMessage = "This table has a row too long to convert to PDF.";
// A word longer than this may be broken anywhere rather than widen its column.
constexpr size_t longWordLength = 20;

// Only in the printed table: the side margins of the page, no band above the first row (the
// print margins give every page one), and cells that break long words.
constexpr const char* printStyle =
    "body{margin:0 2rem}\n"
    "td.w,th.w,table.c td,table.c th{overflow-wrap:anywhere}\n";

// Lays the table out by itself (with the rows that stand for the whole table's widest texts,
// which it then takes away) and answers with the scale it is printed at, its width and each
// column's width. A column is never narrower than its longest word plus a little, since printed
// text runs a little wider than shown and a word that just fits must not be broken; the room for
// that is taken from columns that have more. A table whose words alone are wider than the page
// is laid out on a page as much wider (and longer) as they need, and a quarter more where its
// longer texts can use it, which is then printed scaled down to Letter: type scaled in the PDF
// stays exact, where small type laid out would not.
const char* measureScript = R"((function(){
var t=document.querySelector('table'),b=document.body;if(!t||!t.rows.length)return '';
var a=b.clientWidth,c=t.rows[0].cells,n=c.length;
function widths(){var o=[];for(var i=0;i<n;i++)o.push(c[i].getBoundingClientRect().width);return o;}
function sum(o){var s=0;for(var i=0;i<o.length;i++)s+=o[i];return s;}
function least(){t.style.width='1px';var o=widths().map(function(x){return x*1.03+2;});t.style.width='';return o;}
var m=least(),k=sum(m)/a;
if(k>1){t.style.width='max-content';k=Math.min(k*1.25,Math.max(k,sum(widths())/a));t.style.width='';}else k=1;
if(k>1){b.style.margin='0 '+32*k+'px';b.style.width=a*k+'px';a=b.clientWidth;}
var w=widths(),room=0,over=0;
for(var i=0;i<n;i++){if(w[i]<m[i]){over+=m[i]-w[i];w[i]=m[i];}else room+=w[i]-m[i];}
var take=room>0?Math.min(1,over/room):0;
for(var i=0;i<n;i++)if(w[i]>m[i])w[i]-=(w[i]-m[i])*take;
var z=t.querySelectorAll('tr.z');for(var i=0;i<z.length;i++)z[i].remove();
return k.toFixed(6)+';'+sum(w).toFixed(3)+';'+w.map(function(x){return x.toFixed(3);}).join(',');})())";

// Fixes the table at the measured scale and widths, so that every slice of it looks alike and
// taking rows away changes nothing; then puts a page break before each row that would not fit
// the page begun above it (limit pixels at scale 1). Unless this is the last slice, the rows of
// its last page go (they start the next one), and so do those past its first `most` pages.
// Answers with the number of rows kept and the number of pages they fill whole, or with "tall"
// when one row alone is taller than `most` pages.
std::string paginateScript(const std::string& layout, bool last, double limit) {
    return "(function(s,last,limit,most){if(typeof gc==='function')gc();"
           "var t=document.querySelector('table'),b=document.body;if(!t)return -1;"
           "var p=s.split(';'),k=+p[0]||1,ws=p[2]?p[2].split(','):[],g=document.createElement('colgroup');"
           "if(k>1){b.style.margin='0 '+32*k+'px';b.style.width=(document.documentElement.clientWidth-64)*k+'px';}limit*=k;"
           "for(var i=0;i<ws.length;i++){var c=document.createElement('col');c.style.width=ws[i]+'px';g.appendChild(c);}"
           "t.insertBefore(g,t.firstChild);t.classList.add('c');t.style.tableLayout='fixed';t.style.width=p[1]+'px';"
           "var rows=t.rows,n=rows.length,f=0;while(f<n&&rows[f].style.display==='none')f++;"
           "var top=[],bottom=[];"
           "for(var i=f;i<n;i++){var r=rows[i].getBoundingClientRect();top.push(r.top);bottom.push(r.bottom);}"
           "var start=top.length?top[0]:0,firsts=[];"
           "for(var i=1;i<top.length;i++)if(bottom[i]-start>limit){firsts.push(f+i);start=top[i];}"
           // A row taller than a page begins a page of its own and fills as many as it needs.
           "var starts=[f].concat(firsts),weight=[];"
           "for(var j=0;j<starts.length;j++){var e=(j+1<starts.length?starts[j+1]:n)-1-f;"
           "weight.push(Math.max(1,Math.ceil((bottom[e]-top[starts[j]-f])/limit)));if(weight[j]>most)return 'tall';}"
           "var m=firsts.length,whole=0,cut=-1;"
           "for(var j=0;j<m&&cut<0;j++){whole+=weight[j];if(whole>=most){cut=firsts[j];firsts.length=j;}}"
           "if(cut<0&&!last&&m)cut=firsts.pop();"
           "if(cut>=0){for(var i=n-1;i>=cut;i--)rows[i].remove();n=cut;}"
           // The engine does not break a page before a row, only before a table: each page's rows
           // move into a table of their own, alike but for its rows, keeping their stripes.
           "var all=Array.prototype.slice.call(rows,0,n),at=t;firsts.push(n);"
           "for(var p2=0;p2+1<firsts.length;p2++){var u=t.cloneNode(false),body=document.createElement('tbody');"
           "u.appendChild(g.cloneNode(true));u.appendChild(body);u.style.breakBefore='page';"
           "if(firsts[p2]%2==1)body.appendChild(rows[0].cloneNode(false)).style.display='none';"
           "for(var i=firsts[p2];i<firsts[p2+1];i++)body.appendChild(all[i]);"
           "at.after(u);at=u;}"
           "return (n-f)+';'+whole;})('" + layout + "'," + (last ? "true" : "false") + "," + formatC("%.3f", limit) + "," +
           std::to_string(static_cast<int>(slicePages)) + ")";
}

// Calls visit(column, text) for each cell of a row line, its text as markup.
template <class Visit>
void forEachCell(std::string_view row, const Visit& visit) {
    size_t column = 0;
    for (size_t at = row.find("<t"); at != std::string_view::npos; at = row.find("<t", at + 2)) {
        if (row.compare(at, 4, "<td>") != 0 && row.compare(at, 4, "<th>") != 0) continue;
        const size_t end = std::min(row.find('<', at + 4), row.size());
        visit(column++, row.substr(at + 4, end - at - 4));
    }
}

// The number of characters of a text, and of its longest word.
std::pair<size_t, size_t> textLengths(std::string_view text) {
    size_t all = 0, longest = 0, run = 0;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            run = 0;
            ++all;
        } else if ((c & 0xC0) != 0x80) {
            ++all;
            longest = std::max(longest, ++run);
        }
    }
    return {all, longest};
}

// Two rows that stand for the whole table in the first layout, which measures its columns:
// each column's longest text and its longest word, wherever in the table they are.
std::string sizingRows(const std::vector<std::string_view>& rows) {
    std::vector<std::pair<size_t, std::string_view>> longestText, longestWord;
    for (std::string_view row : rows) {
        forEachCell(row, [&](size_t column, std::string_view text) {
            if (column >= longestText.size()) {
                longestText.resize(column + 1);
                longestWord.resize(column + 1);
            }
            const auto [all, word] = textLengths(text);
            if (all > longestText[column].first) longestText[column] = {all, text};
            if (word > longestWord[column].first) longestWord[column] = {word, text};
        });
    }
    std::string out;
    for (const auto* longest : {&longestText, &longestWord}) {
        std::string row = "<tr class=\"z\">";
        for (const auto& cell : *longest) row += "<td>" + std::string(cell.second) + "</td>";
        out += detail::markLongWords(row + "</tr>\n");
    }
    return out;
}

// The rows [from, to) of one layout: about cells cells, no more text than sliceBytes, and,
// once a page's rows are known, at least two pages and at most slicePages pages of them.
struct Slice {
    size_t cells;
    double rowsPerPage = 0;
};

size_t sliceEnd(const std::vector<std::string_view>& rows, size_t from, const Slice& slice) {
    const size_t least = static_cast<size_t>(slice.rowsPerPage * 2);
    const size_t most = slice.rowsPerPage > 0 ? static_cast<size_t>(slice.rowsPerPage * slicePages) : rows.size();
    size_t cells = 0, bytes = 0, to = from;
    for (; to < rows.size(); ++to) {
        size_t rowCells = 0;
        forEachCell(rows[to], [&](size_t, std::string_view) { ++rowCells; });
        const bool full = cells + rowCells > slice.cells || bytes + rows[to].size() > sliceBytes || to - from >= most;
        if (to > from && full && to - from >= least) break;
        cells += rowCells;
        bytes += rows[to].size();
    }
    return to;
}

// The scale a layout was measured at (1 or more).
double layoutScale(const std::string& layout) {
    double k = 1;
    std::from_chars(layout.data(), layout.data() + layout.size(), k);
    return std::isfinite(k) && k >= 1 && k < 1e4 ? k : 1;
}

}  // namespace

namespace detail {

TablePageParts splitTablePage(std::string_view html) {
    TablePageParts parts{html, {}, {}};
    const size_t table = html.find("<table>\n");
    if (table == std::string_view::npos) return parts;
    size_t at = table + 8;
    while (html.compare(at, 4, "<tr>") == 0) {
        const size_t end = html.find("</tr>\n", at);
        if (end == std::string_view::npos) break;
        parts.rows.push_back(html.substr(at, end + 6 - at));
        at = end + 6;
    }
    parts.head = html.substr(0, table + 8);
    parts.tail = html.substr(at);
    return parts;
}

std::string markLongWords(std::string_view row) {
    std::string out;
    out.reserve(row.size() + 16);
    size_t from = 0;
    for (size_t at = row.find("<t"); at != std::string_view::npos; at = row.find("<t", from)) {
        const bool cell = row.compare(at, 4, "<td>") == 0 || row.compare(at, 4, "<th>") == 0;
        if (!cell) {
            out.append(row, from, at + 2 - from);
            from = at + 2;
            continue;
        }
        // The cell's text runs to the next tag: its own text never holds "<" unescaped.
        const size_t end = std::min(row.find('<', at + 4), row.size());
        out.append(row, from, at + 3 - from);
        if (textLengths(row.substr(at + 4, end - at - 4)).second > longWordLength) out += " class=\"w\"";
        from = at + 3;
    }
    out.append(row, from, std::string_view::npos);
    return out;
}

}  // namespace detail

void tablePageToPDF(const std::string& html, const std::filesystem::path& output, size_t cellsPerLayout) {
    const detail::TablePageParts parts = detail::splitTablePage(html);
    if (parts.rows.empty()) return htmlStringToPDF(html, output);
    // A row is laid out and printed whole: one longer than a layout may hold is refused unread.
    for (std::string_view row : parts.rows)
        if (row.size() > sliceBytes) throw ConversionError::corruptFile(rowTooLongMessage);
    std::string head(parts.head);
    if (const size_t style = head.find("</style>"); style != std::string::npos) head.insert(style, printStyle);
    head = detail::forceLightScheme(head);
    const std::string tail(parts.tail);

    // One table prints at a time: each holds a renderer's worth of memory, and conversions that
    // run side by side (over D-Bus, say) would multiply it. The main thread waits handling events,
    // since a table printing on a worker needs it.
    static std::mutex printing;
    std::unique_lock turn(printing, std::defer_lock);
    if (qtmain::isMainThread()) {
        web::processEventsUntil([&] { return turn.try_lock(); });
    } else {
        turn.lock();
    }
    std::optional<WorkFolder> folder;
    try {
        folder.emplace(WorkFolder::temporaryDirectory());
    } catch (const std::filesystem::filesystem_error&) {
        throw ConversionError::failedToCreateOutput();
    }
    session::SessionGuard session;
    session::startPage(*session, viewWidth, static_cast<int>(pageHeight));
    const double limit = (pageHeight - 2 * pageMargin) * pageFill;
    auto document = pdf::PageAssembly::empty();
    std::string layout;
    Slice slice{cellsPerLayout};
    for (size_t from = 0; from < parts.rows.size();) {
        const size_t to = sliceEnd(parts.rows, from, slice);
        std::string page = head;
        // Rows keep the stripes they have in the whole table: the header is its first row.
        if (from > 0 && from % 2 == 1) page += "<tr style=\"display:none\"></tr>\n";
        for (size_t r = from; r < to; ++r) page += detail::markLongWords(parts.rows[r]);
        if (from == 0) page += sizingRows(parts.rows);
        page += tail;
        auto loaded = session::load(*session, page, folder->path(), false, WebKitLoadWaiter::defaultTimeout);
        session::await(loaded, WebKitLoadWaiter::defaultTimeout + 60);
        if (from == 0) layout = session::evaluateText(*session, measureScript).value_or("");
        size_t kept = 0, wholePages = 0;
        const std::string answer =
            session::evaluateText(*session, paginateScript(layout, to == parts.rows.size(), limit)).value_or("");
        if (answer == "tall") throw ConversionError::corruptFile(rowTooLongMessage);
        if (std::sscanf(answer.c_str(), "%zu;%zu", &kept, &wholePages) != 2 || kept < 1 || kept > to - from)
            throw ConversionError::exportSessionFailed("HTML to PDF: the table could not be laid out");
        if (wholePages > 0) slice.rowsPerPage = static_cast<double>(kept) / static_cast<double>(wholePages);
        const double k = layoutScale(layout);
        auto pages = pdf::PageAssembly::openBytes(session::print(*session, viewWidth * k, pageHeight * k, pageMargin * k));
        if (!pages) throw ConversionError::failedToCreateOutput();
        for (int i = 0; i < pages->pageCount(); ++i) {
            if (k > 1) pages->scalePage(i, 1 / k, viewWidth * 0.75, pageHeight * 0.75);
            // The print leaves its margins unpainted.
            pages->paintWhiteBehind(i);
        }
        document.appendAllPages(*pages);
        if (document.pageCount() > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
        from += kept;
    }
    if (document.pageCount() == 0 || !document.write(output)) throw ConversionError::failedToCreateOutput();
}

}  // namespace calvoro::DocumentConverter
