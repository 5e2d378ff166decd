#pragma once

// The whole system as a user meets it: the real host program loading the real module, posting to the
// real collection endpoint, each a process of its own. Runs send through the script step "tick", which
// runs the module's send step as its 30-second timer would and lets the sends it starts finish; the one
// run that waits for the real timer (started when the module is loaded) waits until 37 s after the
// program's start, which leaves room for a slow start.
#include "collector_fixture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <iostream>

// One hit as the collector stored it: the body as it arrived, read item by item.
struct Hit
{
    QString body;

    QString value(const QString& key) const
    {
        return QUrlQuery(body).queryItemValue(key, QUrl::FullyDecoded);
    }
    QStringList keys() const
    {
        QStringList k;
        for (const auto& item : QUrlQuery(body).queryItems())
            k << item.first;
        return k;
    }
    // "category|action|label|value", the part of an event that says what happened.
    QString event() const
    {
        return QStringList{value("ec"), value("ea"), value("el"), value("ev")}.join('|');
    }
};

// A collector on a free loopback port with a fresh database, and one user's host runs against it.
class EndToEndFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        std::vector<std::string> args{
            "serve", "--listen", "127.0.0.1", "--port", "0", "--db", path("hits.db").toStdString()};
        args.insert(args.end(), m_collectorOptions.begin(), m_collectorOptions.end());
        m_collector = std::make_unique<zncip::collector::test::Program>(args);
        m_port = QString::number(m_collector->port());
        ASSERT_NE(m_port, "0") << m_collector->err();
    }

    void TearDown() override
    {
        if (!m_collector)
            return;
        m_collector->process.terminate();
        m_collector->wait();
        // A failed run is read from both sides: what the host printed and what the collector said.
        if (HasFailure())
            std::cerr << "--- host output\n"
                      << m_output.toStdString() << "--- collector output\n"
                      << m_collector->err() << std::flush;
    }

    static QString bin() { return QStringLiteral(ZNCIP_BIN_DIR); }
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }

    // Runs the host program headless with these script steps and its configuration plus `extra`
    // (more INI sections); its exit code, or -1 when it did not exit normally.
    int runHost(const QString& name, const QString& steps, const QString& extra = QString())
    {
        const auto write = [this](const QString& file, const QString& text)
        {
            QFile f(path(file));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0);
            return f.fileName();
        };
        const QString config =
            write(name + ".ini", QStringLiteral("[resources]\ncip_endpoint=127.0.0.1:%1\n"
                                                "[profile]\nfolder=%2\n"
                                                "[session]\nroot=%3\n"
                                                "[display]\ndpi_factor=1.25\n"
                                                "[opengl]\ncore_profile=false\nrenderer=Test Renderer\n"
                                                "vendor=ACME\nversion=4.5\n%4")
                                     .arg(m_port, path("profile"), path("sessions"), extra));
        const QString script = write(name + ".script", steps);

        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        host.setProcessEnvironment(env);
        host.setProcessChannelMode(QProcess::MergedChannels);
        host.start(bin() + "/zncip-host", {"--config", config, "--script", script});
        EXPECT_TRUE(host.waitForFinished(120000)) << name.toStdString();
        m_output += host.readAll();
        return host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    }

    // Every hit the collector has stored, in the order it stored them.
    QList<Hit> hits()
    {
        QList<Hit> result;
        for (const auto& stored : zncip::collector::test::readHits(path("hits.db").toStdString()))
        {
            EXPECT_TRUE(stored.accepted) << stored.body;
            result << Hit{QString::fromStdString(stored.body)};
        }
        return result;
    }

    static QStringList events(const QList<Hit>& hits)
    {
        QStringList list;
        for (const Hit& h : hits)
            list << h.event();
        return list;
    }

    QTemporaryDir m_dir;
    std::vector<std::string> m_collectorOptions; // set before SetUp, by a fixture's constructor
    std::unique_ptr<zncip::collector::test::Program> m_collector;
    QString m_port;
    QByteArray m_output;
};
