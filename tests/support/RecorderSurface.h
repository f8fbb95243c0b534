#pragma once
// A dialog surface that records what the logic does to its window and answers
// message boxes from a script.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Dialog.h"
#include "platform/Platform.h"

struct RecordedBox {
    std::string text, caption;
    unsigned type;
};

class RecorderSurface : public plat::IDialogSurface {
public:
    std::map<int, std::string> texts;
    std::map<int, bool> visible;
    std::map<int, plat::FontSpec> fonts;
    std::vector<std::string> list;
    std::vector<uint32_t> listData;
    int selection = -1;
    int icon = 0, background = 0;
    std::vector<std::pair<unsigned, std::string>> systemMenu;
    bool acceptsFiles = false;
    bool ended = false;
    int endResult = -1;
    std::vector<RecordedBox> boxes;
    std::vector<RecordedBox> childBoxes;  // boxes the child dialogs showed
    std::deque<int> answers;  // scripted answers; default answer when empty
    std::vector<int> childDialogs;
    // How each child dialog is driven, in turn; without a script it is closed with OK.
    std::deque<std::function<void(plat::IDialogHandler&, RecorderSurface&)>> childScripts;
    std::map<int, int> textLimits;
    std::vector<std::string> pictures;
    std::vector<std::pair<int, int>> progressRanges;
    std::vector<int> progressPositions;
    int pumped = 0;
    // Called on every pump: a test stands in for messages arriving mid-operation.
    std::function<void()> onPump;

    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    std::string GetItemText(int id) override { return texts[id]; }
    void ShowItem(int id, bool show) override { visible[id] = show; }
    bool IsItemVisible(int id) override { return visible[id]; }
    void SetItemFont(int id, const plat::FontSpec& font) override { fonts[id] = font; }
    void SetItemTextLimit(int id, int characters) override { textLimits[id] = characters; }
    int AddListEntry(int, const std::string& text) override {
        list.push_back(text);
        listData.push_back(0);
        return static_cast<int>(list.size()) - 1;
    }
    void SetListItemData(int, int index, uint32_t data) override { listData.at(index) = data; }
    uint32_t GetListItemData(int, int index) override { return listData.at(index); }
    void SetListSelection(int, int index) override { selection = index; }
    int GetListSelection(int) override { return selection; }
    int GetListCount(int) override { return static_cast<int>(list.size()); }
    void SetProgressRange(int, int low, int high) override { progressRanges.emplace_back(low, high); }
    void SetProgressPos(int, int pos) override { progressPositions.push_back(pos); }
    void SetIcon(int iconId) override { icon = iconId; }
    void SetBackgroundBitmap(int bitmapId) override { background = bitmapId; }
    void AppendSystemMenuItem(unsigned command, const std::string& text) override {
        systemMenu.emplace_back(command, text);
    }
    void AcceptFiles(bool accept) override { acceptsFiles = accept; }
    std::vector<int> postedCommands;
    void PostCommand(int id) override { postedCommands.push_back(id); }
    void EndDialog(int result) override {
        ended = true;
        endResult = result;
    }
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
        boxes.push_back({text, caption, type});
        // Like the real window: an installed answerer takes every box.
        if (const auto& answerer = plat::GetMessageBoxAnswerer()) return answerer(text, caption, type);
        if (answers.empty()) return plat::DefaultAnswer(type);
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    int RunChildDialog(int templateId, plat::IDialogHandler& handler) override {
        childDialogs.push_back(templateId);
        RecorderSurface child;
        handler.OnInitDialog(child);
        if (childScripts.empty()) {
            handler.OnCommand(plat::kIdOk, 0);
        } else {
            auto script = std::move(childScripts.front());
            childScripts.pop_front();
            script(handler, child);
        }
        childBoxes.insert(childBoxes.end(), child.boxes.begin(), child.boxes.end());
        return child.ended ? child.endResult : -1;
    }
    bool PumpMessage() override {
        ++pumped;
        if (onPump) onPump();
        return plat::PumpOneMessage();
    }
    void* NativeHandle() override { return this; }
    bool SavePicture(const std::string& path) override {
        pictures.push_back(path);
        return true;
    }
};
