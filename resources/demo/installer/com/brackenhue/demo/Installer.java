package com.brackenhue.demo;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.text.SimpleDateFormat;
import java.util.Date;

/**
 * A small but real installer, carried by the demo build of the launcher.
 *
 * <p>It installs the sample product "Brackenhue Demo" into a folder of that
 * name under the folder given as the system property orig.dir (the folder the
 * launcher was started from; the working folder when the property is absent),
 * writes an install log there and exits 0. It exits 2 when it cannot write
 * there. It never needs a display.
 */
public final class Installer {
    static final String PRODUCT = "Brackenhue Demo";

    private Installer() {}

    public static void main(String[] args) {
        String origin = System.getProperty("orig.dir", System.getProperty("user.dir"));
        File target = new File(origin, PRODUCT);
        try {
            install(target);
        } catch (IOException e) {
            System.err.println("installation failed: cannot write " + target + ": " + e.getMessage());
            System.exit(2);
        }
        System.out.println("installed " + PRODUCT + " into " + target);
        System.exit(0);
    }

    static void install(File target) throws IOException {
        File bin = new File(target, "bin");
        if (!bin.isDirectory() && !bin.mkdirs()) {
            throw new IOException("cannot create folder " + bin);
        }
        write(new File(target, "README.txt"),
                PRODUCT + "\r\n\r\nThis is the sample product of the Brackenhue demo installer.\r\n");
        write(new File(bin, "brackenhue-demo.cmd"), "@echo Brackenhue Demo is installed.\r\n");
        String stamp = new SimpleDateFormat("yyyy-MM-dd HH:mm:ss").format(new Date());
        write(new File(target, "install.log"),
                stamp + " installed " + PRODUCT + "\r\n"
                        + stamp + " java " + System.getProperty("java.version") + "\r\n"
                        + stamp + " files: README.txt, bin\\brackenhue-demo.cmd\r\n");
    }

    private static void write(File file, String text) throws IOException {
        try (PrintWriter out = new PrintWriter(
                new OutputStreamWriter(new FileOutputStream(file), StandardCharsets.UTF_8))) {
            out.print(text);
            if (out.checkError()) {
                throw new IOException("cannot write " + file);
            }
        }
    }
}
