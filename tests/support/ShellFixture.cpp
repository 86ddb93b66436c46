#include "tests/support/ShellFixture.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "config/ConfigImage.h"
#include "tests/support/SimTime.h"

ShellFixture::ShellFixture(bool realWorkerThread) {
    board_ = PlugFreshBoard(clock_);
    window_ = std::make_unique<TFDevice>(TFDevice::Options{realWorkerThread, &clock_});
    window_->show();
    static int counter = 0;
    tempDir_ = QDir::temp().filePath(
        QString("k350-shell-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter));
    QDir().mkpath(tempDir_);
}

ShellFixture::~ShellFixture() {
    window_.reset();
    ReleaseSim();
    QDir(tempDir_).removeRecursively();
}

void ShellFixture::runWorker(int maxPasses) {
    for (int pass = 0; pass < maxPasses && window_->session().worker().runOnePass(); ++pass) {
    }
}

QAction* ShellFixture::action(const char* actionName) const {
    return window_->findChild<QAction*>(actionName);
}

void ShellFixture::trigger(const char* actionName) {
    QAction* found = action(actionName);
    ASSERT_NE(found, nullptr) << actionName;
    found->trigger();
}

QTreeWidgetItem* FindNode(const QTreeWidget& tree, const QString& caption) {
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&tree)); *it; ++it) {
        if ((*it)->text(0) == caption) return *it;
    }
    return nullptr;
}

bool ActivateNode(TFDevice& window, const QString& caption) {
    QTreeWidgetItem* item = FindNode(*window.tree(), caption);
    if (!item) return false;
    window.tree()->setCurrentItem(item);
    window.activateSelectedNode();
    return true;
}

QTreeWidgetItem* ShellFixture::node(const QString& caption) const {
    return FindNode(*window_->tree(), caption);
}

QMdiSubWindow* ShellFixture::openNode(const QString& caption) {
    const bool found = ActivateNode(*window_, caption);
    EXPECT_TRUE(found) << caption.toStdString();
    if (!found) return nullptr;
    QApplication::processEvents();
    return window_->clientArea()->activeSubWindow();
}

namespace {
void showNode(QTreeWidget* tree, QTreeWidgetItem* item) {
    for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
        parent->setExpanded(true);
    }
    tree->scrollToItem(item);
    tree->setCurrentItem(item);
}
}  // namespace

void ShellFixture::doubleClickNode(const QString& caption) {
    QTreeWidgetItem* item = node(caption);
    ASSERT_NE(item, nullptr) << caption.toStdString();
    QTreeWidget* tree = window_->tree();
    showNode(tree, item);
    const QPoint centre = tree->visualItemRect(item).center();
    // A real double click: press and release, then the double-click press.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, centre);
}

void ShellFixture::pressKeyOnNode(const QString& caption, int key) {
    QTreeWidgetItem* item = node(caption);
    ASSERT_NE(item, nullptr) << caption.toStdString();
    QTreeWidget* tree = window_->tree();
    showNode(tree, item);
    QTest::keyClick(tree, Qt::Key(key));
}

QString ShellFixture::treeText() const {
    QString text;
    for (QTreeWidgetItemIterator it(window_->tree()); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent()) ++depth;
        text += QString(2 * depth, ' ') + (*it)->text(0) +
                QString(" (%1)\n").arg(TFDevice::nodeImage(*it));
    }
    return text;
}

void ShellFixture::installConfig(std::uint8_t model) {
    TCrc crc;
    ConfigSnapshot snapshot = MakeBlankSnapshot(crc, "01.02.2026");
    snapshot.bytes[ConfigOffset::Model] = model;
    RefreshCrc(crc, snapshot);
    window_->InstallConfig(snapshot.data());
}

QString ShellFixture::tempPath(const QString& name) const {
    return QDir(tempDir_).filePath(name);
}

QString ShellFixture::writeFile(const QString& name, const std::vector<std::uint8_t>& bytes) {
    const QString path = tempPath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    return path;
}

std::vector<std::uint8_t> ShellFixture::readFile(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    return {data.begin(), data.end()};
}

int ShellFixture::openWindowCount() const {
    return int(window_->clientArea()->subWindowList().size());
}
