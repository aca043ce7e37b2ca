#pragma once

#include "app/Roamnode.h"
#include "bus/PXEventBus.h"
#include "ui/gui/PXGuiManager.h"

#include "BusRecorder.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>

#include <gtest/gtest.h>

#include <memory>

// The real page stack in an offscreen window, driven by a manager on the bus the test gives.
// Local storage lives in a temporary folder so the tests never touch the user's database. By
// default the window gets a bus of its own, so that no manager of the application object acts on
// the states a test publishes.
class GuiFixture : public ::testing::Test
{
protected:
    void SetUp() override { start(std::make_shared<PXEventBus>()); }

    void start(std::shared_ptr<PXEventBus> bus, const QString& storagePath = QString())
    {
        ASSERT_TRUE(storage().isValid());
        [[maybe_unused]] static const bool registered = [] {
            PXGuiManager(nullptr, nullptr).registerTypes("com.pellix.roamnode");
            return true;
        }();
        m_bus = bus;
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->setOfflineStoragePath(storagePath.isEmpty() ? storage().path() : storagePath);
        m_manager = std::make_unique<PXGuiManager>(bus, m_app.get());
        m_engine->rootContext()->setContextProperty("guiManager", m_manager.get());
        m_manager->setup(m_engine.get());
        ASSERT_NE(m_manager->window(), nullptr);
        ASSERT_NE(stack(), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([this] { return topPage() != nullptr; }));
    }

    void TearDown() override
    {
        m_manager.reset();
        m_engine.reset();
        m_app.reset();
        // Pages the stack destroyed are deleted later, by the event loop that the program
        // keeps running; a test ends before that, so it runs those deletions itself.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // One folder for the whole run: the local storage keeps its database connections open
    // across engines, so the files must outlive every single test.
    static QTemporaryDir& storage()
    {
        static QTemporaryDir dir;
        return dir;
    }

    QQuickWindow* window() const { return m_manager->window(); }

    QQuickItem* stack() const { return window()->findChild<QQuickItem*>("stack"); }

    QQuickItem* topPage() const
    {
        const QList<QQuickItem*> pages = stack()->childItems();
        return pages.isEmpty() ? nullptr : pages.last();
    }

    QObject* onTop(const char* name) const
    {
        QQuickItem* top = topPage();
        return top ? top->findChild<QObject*>(name) : nullptr;
    }

    QVariant property(const char* objectName, const char* name) const
    {
        QObject* object = onTop(objectName);
        return object ? object->property(name) : QVariant();
    }

    void previousPage() { QMetaObject::invokeMethod(stack(), "previousPage"); }

    // Shows a page and waits until it is on top with its sections built.
    void showPage(const QString& name, const char* marker)
    {
        QMetaObject::invokeMethod(stack(), "showPage", Q_ARG(QVariant, name));
        ASSERT_TRUE(QTest::qWaitFor([&] { return onTop(marker) != nullptr; })) << qPrintable(name);
    }

    QString currentPageName() const { return stack()->property("currentPageName").toString(); }
    QString pageVariant() const { return stack()->property("pageVariant").toString(); }

    std::unique_ptr<Roamnode> m_app = std::make_unique<Roamnode>();
    std::shared_ptr<PXEventBus> m_bus;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<PXGuiManager> m_manager;
};
