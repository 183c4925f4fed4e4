#include "ui/tab_order.h"

#include <algorithm>

namespace veldmoor {

std::vector<wxWindow*> ReadingOrder(const wxWindow& parent) {
    std::vector<wxWindow*> children;
    for (wxWindow* child : parent.GetChildren()) {
        if (!child->IsTopLevel())
            children.push_back(child);
    }
    std::stable_sort(children.begin(), children.end(), [](wxWindow* a, wxWindow* b) {
        return a->GetPosition().y < b->GetPosition().y;
    });
    // Rows from the top: each row starts with its topmost control and takes every control whose
    // middle is above that control's bottom; within a row, from the left.
    std::vector<wxWindow*> ordered;
    for (std::size_t start = 0; start < children.size();) {
        const wxRect first = children[start]->GetRect();
        std::size_t end = start + 1;
        while (end < children.size()) {
            const wxRect next = children[end]->GetRect();
            if (next.y + next.height / 2 > first.GetBottom())
                break;
            ++end;
        }
        std::stable_sort(
            children.begin() + static_cast<std::ptrdiff_t>(start),
            children.begin() + static_cast<std::ptrdiff_t>(end),
            [](wxWindow* a, wxWindow* b) { return a->GetPosition().x < b->GetPosition().x; });
        ordered.insert(ordered.end(), children.begin() + static_cast<std::ptrdiff_t>(start),
                       children.begin() + static_cast<std::ptrdiff_t>(end));
        start = end;
    }
    return ordered;
}

void OrderTabStopsByReading(wxWindow& parent) {
    const std::vector<wxWindow*> ordered = ReadingOrder(parent);
    for (std::size_t i = 1; i < ordered.size(); ++i)
        ordered[i]->MoveAfterInTabOrder(ordered[i - 1]);
    for (wxWindow* child : ordered) {
        if (!child->GetChildren().empty())
            OrderTabStopsByReading(*child);
    }
}

}  // namespace veldmoor
