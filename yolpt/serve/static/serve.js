// yolpt serve: editing in place. The server renders everything; this script
// opens an editor on a value, sends the change with the page's token in a
// header, and puts the book as written (or as found on disk) in the page.
"use strict";

(function () {
    var TYPES = ["integer", "float", "boolean", "string", "array", "object"];
    var token = document.querySelector('meta[name="yolpt-token"]').getAttribute("content");
    document.documentElement.classList.add("js");

    function element(tag, attributes, children) {
        var node = document.createElement(tag);
        Object.keys(attributes || {}).forEach(function (name) {
            if (name === "text") {
                node.textContent = attributes[name];
            } else {
                node.setAttribute(name, attributes[name]);
            }
        });
        (children || []).forEach(function (child) { node.appendChild(child); });
        return node;
    }

    function fromHtml(text) {
        var holder = document.createElement("template");
        holder.innerHTML = text.trim();
        return holder.content.firstChild;
    }

    function replaceBook(section, html) {
        var fresh = fromHtml(html);
        section.replaceWith(fresh);
        return fresh;
    }

    function openEditor(row) {
        if (row.querySelector("form.editor")) {
            return;
        }
        var section = row.closest("section.book");
        var cell = row.querySelector("td.value");
        var kept = cell.innerHTML;
        var stored = row.getAttribute("data-type");
        var text = row.getAttribute("data-text");
        var multiline = stored === "array" || stored === "object" || text.indexOf("\n") >= 0;
        var field = multiline
            ? element("textarea", {"class": "field", rows: String(Math.min(12, text.split("\n").length + 1))})
            : element("input", {"class": "field", type: "text", spellcheck: "false"});
        field.value = text;
        field.setAttribute("aria-label", "New value of " + row.getAttribute("data-attribute"));
        var type = element("select", {"class": "type-choice", "aria-label": "Type"},
            [element("option", {value: "", text: "keep " + stored})].concat(TYPES.map(function (name) {
                return element("option", {value: name, text: name});
            })));
        var reason = element("div", {"class": "reason", role: "alert"});
        var conflict = element("div", {"class": "conflict", hidden: ""});
        var save = element("button", {type: "submit", "class": "primary save", text: "Save"});
        var cancel = element("button", {type: "button", "class": "cancel", text: "Cancel"});
        var form = element("form", {"class": "editor"}, [field, element("div", {"class": "controls"},
            [element("label", {text: "type"}), type, save, cancel]), reason, conflict]);
        form.dataset.version = section.getAttribute("data-version");
        cell.innerHTML = "";
        cell.appendChild(form);
        row.classList.add("editing");
        field.focus();

        function close() {
            cell.innerHTML = kept;
            row.classList.remove("editing");
        }

        cancel.addEventListener("click", close);
        form.addEventListener("keydown", function (event) {
            if (event.key === "Escape") {
                close();
            }
        });
        form.addEventListener("submit", function (event) {
            event.preventDefault();
            send(section, row, form, field, type, reason, conflict, save);
        });
    }

    function send(section, row, form, field, type, reason, conflict, save) {
        reason.textContent = "";
        save.disabled = true;
        fetch("/api/set", {
            method: "POST",
            credentials: "same-origin",
            headers: {"Content-Type": "application/json", "X-Yolpt-Token": token},
            body: JSON.stringify({
                book: section.getAttribute("data-book"),
                parameter: row.closest(".parameter").getAttribute("data-parameter"),
                attribute: row.getAttribute("data-attribute"),
                text: field.value,
                type: type.value || null,
                version: form.dataset.version
            })
        }).then(function (response) {
            return response.text().then(function (body) {
                var answer;
                try {
                    answer = JSON.parse(body);
                } catch (error) {
                    answer = {error: body || response.statusText};
                }
                return {status: response.status, answer: answer};
            });
        }).then(function (result) {
            save.disabled = false;
            var answer = result.answer;
            if (result.status === 200) {
                var fresh = replaceBook(section, answer.html);
                fresh.classList.add("saved");
                setTimeout(function () { fresh.classList.remove("saved"); }, 1500);
            } else if (result.status === 409 && answer.version) {
                showConflict(section, form, conflict, save, answer);
            } else {
                reason.textContent = answer.error || ("refused (" + result.status + ")");
            }
        }).catch(function (error) {
            save.disabled = false;
            reason.textContent = "not sent: " + error;
        });
    }

    // The book changed on disk: show its value there beside this one. Saving
    // again writes this field over the version now shown; the field can be
    // edited first, to merge the two by hand.
    function showConflict(section, form, conflict, save, answer) {
        form.dataset.version = answer.version;
        conflict.innerHTML = "";
        conflict.appendChild(element("p", {text: answer.error}));
        var theirs = element("p", {"class": "theirs"}, [element("span", {text: "On disk now: "})]);
        theirs.appendChild(answer.theirs_html ? fromHtml(answer.theirs_html)
            : element("em", {text: "this attribute is gone"}));
        conflict.appendChild(theirs);
        var take = element("button", {type: "button", "class": "take-theirs", text: "Take the version on disk"});
        take.addEventListener("click", function () { replaceBook(section, answer.html); });
        conflict.appendChild(element("div", {"class": "controls"}, [take]));
        if (answer.theirs !== null) {
            var merge = element("button", {type: "button", "class": "edit-theirs", text: "Edit the version on disk"});
            merge.addEventListener("click", function () {
                form.querySelector(".field").value = answer.theirs;
            });
            conflict.lastChild.appendChild(merge);
        }
        save.textContent = "Save mine over it";
        conflict.hidden = false;
    }

    document.addEventListener("click", function (event) {
        var button = event.target.closest("button.edit");
        if (button) {
            openEditor(button.closest("tr.attribute"));
        }
    });
})();
